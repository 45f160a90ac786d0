#include "image/PGMessages.h"

#include "image/PGExceptions.h"

namespace rastova {

std::uint8_t LanguageIndex = 0;

// Columns: English, German, French, Dutch, Spanish, sixth. Texts are UTF-8.
const std::array<TPGLangStrEntry, kMessageCount> PGLangStrEntries = {{
    {0, {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr}},
    {1, {"X, Y index out of range",
          "X, Y-Index außerhalb des Bereichs",
          "Index X, Y hors limites",
          "X, Y-index buiten bereik",
          "Índice X, Y fuera de rango",
          nullptr}},
    {2, {"No palette", "Keine Palette", "Pas de palette", "Geen palet", "No paleta", nullptr}},
    {3, {"Invalid palette index",
          "Ungültiger Palettenindex",
          "Index de palette non valide",
          "Ongeldige paletindex",
          "Índice de paleta no válido",
          nullptr}},
    {4, {"Unknown clipboard format",
          "Unbekanntes Zwischenablageformat",
          "Format de presse-papiers inconnu",
          "Onbekend klembordformaat",
          "Formato de portapapeles desconocido",
          nullptr}},
    {5, {"Invalid temporary file",
          "Ungültige temporäre Datei",
          "Fichier temporaire non valide",
          "Ongeldig tijdelijk bestand",
          "Archivo temporal no válido",
          nullptr}},
    {6, {"Unknown file format",
          "Unbekanntes Dateiformat",
          "Format de fichier inconnu",
          "Onbekend bestandsformaat",
          "Formato de archivo desconocido",
          nullptr}},
    {7, {"%S1 invalid", "%S1 ungültig", "%S1 non valide", "%S1 ongeldig", "%S1 no válido", nullptr}},
    {8, {"black and white", "schwarzweiß", "noir et blanc", "zwart-wit", "blanco y negro", nullptr}},
    {9, {"2 colors", "2 Farben", "2 couleurs", "2 kleuren", "2 colores", nullptr}},
    {10, {"16 shades of gray",
          "16 Graustufen",
          "16 niveaux de gris",
          "16 grijstinten",
          "16 tonos de gris",
          nullptr}},
    {11, {"16 system colors",
          "16 Systemfarben",
          "16 couleurs système",
          "16 systeemkleuren",
          "16 colores del sistema",
          nullptr}},
    {12, {"16 colors", "16 Farben", "16 couleurs", "16 kleuren", "16 colores", nullptr}},
    {13, {"256 shades of gray",
          "256 Graustufen",
          "256 niveaux de gris",
          "256 grijstinten",
          "256 tonos de gris",
          nullptr}},
    {14, {"256 colors", "256 Farben", "256 couleurs", "256 kleuren", "256 colores", nullptr}},
    {15, {"16.7 million colors",
          "16,7 Millionen Farben",
          "16,7 millions de couleurs",
          "16,7 miljoen kleuren",
          "16,7 millones de colores",
          nullptr}},
    {16, {"%S1 is empty", "%S1 ist leer", "%S1 est vide", "%S1 is leeg", "%S1 está vacío", nullptr}},
    {17, {"The graphic cannot be saved to a %S1 file with the current color resolution (%S2).\r\rThe graphic will be saved with a different color resolution (%S3).",
          "Die Grafik kann mit der aktuellen Farbauflösung (%S2) nicht als %S1-Datei gespeichert werden.\r\rDie Grafik wird mit einer anderen Farbauflösung (%S3) gespeichert.",
          "Le graphique ne peut pas être enregistré dans un fichier %S1 avec la résolution de couleurs actuelle (%S2).\r\rLe graphique sera enregistré avec une autre résolution de couleurs (%S3).",
          "De afbeelding kan met de huidige kleurresolutie (%S2) niet als %S1-bestand worden opgeslagen.\r\rDe afbeelding wordt met een andere kleurresolutie (%S3) opgeslagen.",
          "El gráfico no se puede guardar en un archivo %S1 con la resolución de color actual (%S2).\r\rEl gráfico se guardará con otra resolución de color (%S3).",
          nullptr}},
    {18, {"The graphic cannot be saved with to a %S1 file with the current color resolution (%S2)",
          "Die Grafik kann mit der aktuellen Farbauflösung (%S2) nicht als %S1-Datei gespeichert werden",
          "Le graphique ne peut pas être enregistré dans un fichier %S1 avec la résolution de couleurs actuelle (%S2)",
          "De afbeelding kan met de huidige kleurresolutie (%S2) niet als %S1-bestand worden opgeslagen",
          "El gráfico no se puede guardar en un archivo %S1 con la resolución de color actual (%S2)",
          nullptr}},
    {19, {"Unknown file extension \"%S1\"",
          "Unbekannte Dateierweiterung \"%S1\"",
          "Extension de fichier inconnue \"%S1\"",
          "Onbekende bestandsextensie \"%S1\"",
          "Extensión de archivo desconocida \"%S1\"",
          nullptr}},
    {20, {"Invalid value for %S1",
          "Ungültiger Wert für %S1",
          "Valeur non valide pour %S1",
          "Ongeldige waarde voor %S1",
          "Valor no válido para %S1",
          nullptr}},
    {21, {"Negative height",
          "Negative Höhe",
          "Hauteur négative",
          "Negatieve hoogte",
          "Altura negativa",
          nullptr}},
    {22, {"Negative width",
          "Negative Breite",
          "Largeur négative",
          "Negatieve breedte",
          "Anchura negativa",
          nullptr}},
    {23, {"Cannot apply this filter to a source that is identical to the target",
          "Dieser Filter kann nicht auf eine Quelle angewendet werden, die mit dem Ziel identisch ist",
          "Impossible d'appliquer ce filtre à une source identique à la cible",
          "Dit filter kan niet worden toegepast op een bron die identiek is aan het doel",
          "No se puede aplicar este filtro a un origen idéntico al destino",
          nullptr}},
    {24, {"bit", "Bit", "bit", "bit", "bit", nullptr}},
    {25, {"Image files",
          "Bilddateien",
          "Fichiers image",
          "Afbeeldingsbestanden",
          "Archivos de imagen",
          "Image files"}},
    {26, {"All files", "Alle Dateien", "Tous les fichiers", "Alle bestanden", "Todos los archivos", nullptr}},
    {27, {"Invalid size of %S1",
          "Ungültige Größe von %S1",
          "Taille de %S1 non valide",
          "Ongeldige grootte van %S1",
          "Tamaño de %S1 no válido",
          nullptr}},
    {28, {"Warning", "Warnung", "Avertissement", "Waarschuwing", "Advertencia", nullptr}},
    {29, {"Operation aborted on user request",
          "Vorgang auf Wunsch des Benutzers abgebrochen",
          "Opération interrompue à la demande de l'utilisateur",
          "Bewerking op verzoek van de gebruiker afgebroken",
          "Operación cancelada a petición del usuario",
          nullptr}},
    {30, {"Not supported subformat",
          "Nicht unterstütztes Unterformat",
          "Sous-format non pris en charge",
          "Niet ondersteund subformaat",
          "Subformato no admitido",
          nullptr}},
    {31, {"%S1 failed", "%S1 fehlgeschlagen", "%S1 a échoué", "%S1 mislukt", "%S1 ha fallado", nullptr}},
    {32, {"Unexpected end of file",
          "Unerwartetes Dateiende",
          "Fin de fichier inattendue",
          "Onverwacht einde van bestand",
          "Fin de archivo inesperado",
          nullptr}},
    {33, {"Unknown subformat",
          "Unbekanntes Unterformat",
          "Sous-format inconnu",
          "Onbekend subformaat",
          "Subformato desconocido",
          nullptr}},
    {34, {"Not a %S1 file",
          "Keine %S1-Datei",
          "Pas un fichier %S1",
          "Geen %S1-bestand",
          "No es un archivo %S1",
          nullptr}},
    {35, {"Width = 0 or Height = 0",
          "Breite = 0 oder Höhe = 0",
          "Largeur = 0 ou hauteur = 0",
          "Breedte = 0 of hoogte = 0",
          "Anchura = 0 o altura = 0",
          nullptr}},
    {36, {"Invalid color resolution",
          "Ungültige Farbauflösung",
          "Résolution de couleurs non valide",
          "Ongeldige kleurresolutie",
          "Resolución de color no válida",
          nullptr}},
    {37, {"Unsupported field type %S1",
          "Nicht unterstützter Feldtyp %S1",
          "Type de champ %S1 non pris en charge",
          "Niet ondersteund veldtype %S1",
          "Tipo de campo %S1 no admitido",
          nullptr}},
    {38, {"Invalid count of bytes in row %S1",
          "Ungültige Anzahl Bytes in Zeile %S1",
          "Nombre d'octets non valide dans la ligne %S1",
          "Ongeldig aantal bytes in rij %S1",
          "Número de bytes no válido en la fila %S1",
          nullptr}},
    {39, {"Unsupported Compression",
          "Unsupported Compression",
          "Compression non prise en charge",
          "Unsupported Compression",
          "Compresión no admitida",
          nullptr}},
    {40, {"Saturation=0 and Hue defined",
          "Sättigung=0 und Farbton definiert",
          "Saturation=0 et teinte définie",
          "Verzadiging=0 en tint gedefinieerd",
          "Saturación=0 y tono definido",
          nullptr}},
    {41, {"%S1 out of range",
          "%S1 außerhalb des Bereichs",
          "%S1 hors limites",
          "%S1 buiten bereik",
          "%S1 fuera de rango",
          nullptr}},
    {42, {"OK", "OK", "OK", "OK", "Aceptar", nullptr}},
    {43, {"Cancel", "Abbrechen", "Annuler", "Annuleren", "Cancelar", nullptr}},
    {44, {"RGB Filter", "RGB-Filter", "Filtre RVB", "RGB-filter", "Filtro RGB", nullptr}},
    {45, {"R", "R", "R", "R", "R", nullptr}},
    {46, {"G", "G", "V", "G", "G", nullptr}},
    {47, {"B", "B", "B", "B", "B", nullptr}},
    {48, {"CMY Filter", "CMY-Filter", "Filtre CMJ", "CMY-filter", "Filtro CMY", nullptr}},
    {49, {"C", "C", "C", "C", "C", nullptr}},
    {50, {"M", "M", "M", "M", "M", nullptr}},
    {51, {"Y", "Y", "J", "Y", "Y", nullptr}},
    {52, {"YCbCr Filter", "YCbCr-Filter", "Filtre YCbCr", "YCbCr-filter", "Filtro YCbCr", nullptr}},
    {53, {"Y", "Y", "Y", "Y", "Y", nullptr}},
    {54, {"Cb", "Cb", "Cb", "Cb", "Cb", nullptr}},
    {55, {"Cr", "Cr", "Cr", "Cr", "Cr", nullptr}},
    {56, {"HLS Filter", "HLS-Filter", "Filtre HLS", "HLS-filter", "Filtro HLS", nullptr}},
    {57, {"H", "H", "H", "H", "H", nullptr}},
    {58, {"L", "L", "L", "L", "L", nullptr}},
    {59, {"S", "S", "S", "S", "S", nullptr}},
    {60, {"HSV Filter", "HSV-Filter", "Filtre HSV", "HSV-filter", "Filtro HSV", nullptr}},
    {61, {"V", "V", "V", "V", "V", nullptr}},
    {62, {"Negative Filter",
          "Negativfilter",
          "Filtre négatif",
          "Negatieffilter",
          "Filtro negativo",
          nullptr}},
    {63, {"Gamma", "Gamma", "Gamma", "Gamma", "Gamma", nullptr}},
    {64, {"RGB", "RGB", "RVB", "RGB", "RGB", nullptr}},
    {65, {"Y", "Y", "Y", "Y", "Y", nullptr}},
    {66, {"Brightness", "Helligkeit", "Luminosité", "Helderheid", "Brillo", nullptr}},
    {67, {"Contrast", "Kontrast", "Contraste", "Contrast", "Contraste", nullptr}},
    {68, {"Apply on", "Anwenden auf", "Appliquer à", "Toepassen op", "Aplicar a", nullptr}},
    {69, {"Brightness, Contrast, Gamma Filter",
          "Helligkeit-, Kontrast-, Gamma-Filter",
          "Filtre luminosité, contraste, gamma",
          "Helderheid-, contrast-, gammafilter",
          "Filtro de brillo, contraste y gamma",
          nullptr}},
    {70, {"Grayscale Filter",
          "Graustufenfilter",
          "Filtre niveaux de gris",
          "Grijstintenfilter",
          "Filtro de escala de grises",
          nullptr}},
    {71, {"RGB weighting", "RGB-Gewichtung", "Pondération RVB", "RGB-weging", "Ponderación RGB", nullptr}},
    {72, {"Std. deviation", "Std.-Abweichung", "Écart type", "Std.-afwijking", "Desv. estándar", nullptr}},
    {73, {"Strength", "Stärke", "Intensité", "Sterkte", "Intensidad", nullptr}},
    {74, {"Sharpen", "Schärfen", "Netteté", "Verscherpen", "Enfocar", nullptr}},
    {75, {"Detail", "Detail", "Détail", "Detail", "Detalle", nullptr}},
    {76, {"Smooth", "Glätten", "Lisser", "Verzachten", "Suavizar", nullptr}},
    {77, {"Radius", "Radius", "Rayon", "Straal", "Radio", nullptr}},
    {78, {"Blur", "Weichzeichnen", "Flou", "Vervagen", "Desenfocar", nullptr}},
    {79, {"Contour", "Kontur", "Contour", "Contour", "Contorno", nullptr}},
    {80, {"White", "Weiß", "Blanc", "Wit", "Blanco", nullptr}},
    {81, {"Black", "Schwarz", "Noir", "Zwart", "Negro", nullptr}},
    {82, {"±", "±", "±", "±", "±", nullptr}},
    {83, {"°", "°", "°", "°", "°", nullptr}},
    {84, {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr}},
}};

void GetMessage(std::uint8_t key, std::string& text)
{
    if (LanguageIndex >= kLanguageCount)
        return;
    const char* s = key < kMessageCount ? PGLangStrEntries[key].Texts[LanguageIndex] : nullptr;
    text = s ? s : "";
}

namespace {

// Only the first occurrence is replaced, and later placeholders are looked up
// in the text as it stands after the earlier replacements.
void ReplaceFirst(std::string& text, const char* placeholder, const std::string& word)
{
    const std::size_t at = text.find(placeholder);
    if (at != std::string::npos)
        text.replace(at, 3, word);
}

}  // namespace

void FormatMessage1(std::uint8_t key, const std::string& s1, std::string& text)
{
    GetMessage(key, text);
    ReplaceFirst(text, "%S1", s1);
}

void FormatMessage2(std::uint8_t key, const std::string& s1, const std::string& s2, std::string& text)
{
    FormatMessage1(key, s1, text);
    ReplaceFirst(text, "%S2", s2);
}

void FormatMessage3(std::uint8_t key, const std::string& s1, const std::string& s2, const std::string& s3,
                    std::string& text)
{
    FormatMessage2(key, s1, s2, text);
    ReplaceFirst(text, "%S3", s3);
}

std::string MessageText(std::uint8_t key)
{
    std::string text;
    GetMessage(key, text);
    return text;
}

std::string MessageText(std::uint8_t key, const std::string& s1)
{
    std::string text;
    FormatMessage1(key, s1, text);
    return text;
}

std::string MessageText(std::uint8_t key, const std::string& s1, const std::string& s2)
{
    std::string text;
    FormatMessage2(key, s1, s2, text);
    return text;
}

std::string MessageText(std::uint8_t key, const std::string& s1, const std::string& s2, const std::string& s3)
{
    std::string text;
    FormatMessage3(key, s1, s2, s3, text);
    return text;
}

void CheckMessageOrder(const TPGLangStrEntry* entries, int count)
{
    for (int i = 0; i < count; ++i) {
        if (entries[i].Key != i)
            throw EPixelGraphic("PGLangStrEntries order wrong " + std::to_string(i) + " and " +
                                std::to_string(entries[i].Key) + " are not identical");
    }
}

}  // namespace rastova
