// The main window: folder browsing and file selection on the left, destination
// and conversion options on the right, Start and Close/Stop below.
#pragma once

#include "gui/Settings.h"
#include "gui/WindowHost.h"
#include "gui/WindowModel.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QMainWindow>

class QButtonGroup;
class QCheckBox;
class QSpinBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QToolButton;

namespace rastova {

class TForm2;
class TForm3;
class TForm4;
class TShellCombo;
class TShellList;

// A captioned group of radio buttons with one chosen item.
class TRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    TRadioGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent);
    int ItemIndex() const;
    void SetItemIndex(int index);
    int Count() const;

signals:
    // The chosen item changed, by the user or by SetItemIndex.
    void ItemIndexChanged(int index);

private:
    QButtonGroup* m_buttons;
};

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    // Reads the settings from iniFileName and applies them.
    explicit TForm1(const QString& iniFileName, QWidget* parent = nullptr);
    ~TForm1() override;

    // The dialogs are created after the main window and live as long as it does.
    void SetDialogs(TForm2* jpegQuality, TForm3* about, TForm4* viewer);
    // The About box appears at the first activation; tests turn that off.
    void SetAboutAtFirstActivation(bool value) { m_aboutPending = value; }

    // Handlers, public so that tests and the menu reach the same code.
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void About1Click();
    void ShowViewer(const QString& fileName);

    bool Running() const { return m_host.Running; }
    const TWindowModel& Model() const { return m_model; }
    // Shows the model's run state: locked controls, the second button's
    // caption, the progress bar; elapsedMs is the run's clock.
    void ShowRunState(qint64 elapsedMs);
    const QString& IniFileName() const { return m_iniFileName; }
    const QString& ViewFileName() const { return m_viewFileName; }
    const TWindowHost& Host() const { return m_host; }
    TWindowHost& Host() { return m_host; }

    // Controls, for the host and the tests.
    TShellCombo* PTShellCombo1() const { return m_shellCombo; }
    TShellList* PTSList1() const { return m_shellList; }
    QComboBox* FilterComboBox1() const { return m_filterCombo; }
    QLineEdit* Edit1() const { return m_edit1; }
    QGroupBox* GB1() const { return m_gb1; }
    QGroupBox* GB2() const { return m_gb2; }
    TRadioGroup* RG1() const { return m_rg1; }
    TRadioGroup* RG2() const { return m_rg2; }
    QCheckBox* KeepMetadataBox() const { return m_keepMetadata; }
    QCheckBox* BestPaletteBox() const { return m_bestPalette; }
    TRadioGroup* RG3() const { return m_rg3; }
    TRadioGroup* RG4() const { return m_rg4; }
    QProgressBar* PBar1() const { return m_pBar1; }
    QPushButton* Button1() const { return m_button1; }
    QPushButton* Button2() const { return m_button2; }
    QToolButton* SpeedButton(int number) const { return m_speedButtons[number - 1]; }
    // The batch options group.
    QCheckBox* FitWithin() const { return m_fitWithin; }
    QSpinBox* FitWidth() const { return m_fitWidth; }
    QSpinBox* FitHeight() const { return m_fitHeight; }
    QCheckBox* AutoRotate() const { return m_autoRotate; }
    TRadioGroup* ExistingFiles() const { return m_existing; }
    QCheckBox* IncludeSubfolders() const { return m_subfolders; }
    QPushButton* BackgroundButton() const { return m_background; }
    QLabel* SelectionText() const { return m_selectionText; }
    // Files and folders dropped on the options side: asks "Convert N dropped
    // files?" and converts them with the current options.
    void ConvertDropped(const QStringList& paths);
    QComboBox* PresetCombo() const { return m_preset; }
    // Stores the options under name (as "Save…" does after asking) and lists it.
    void SavePresetAs(const QString& name);
    void DeleteCurrentPreset();
    TForm2* JpegQualityDialog() const { return m_form2; }

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* CreateSourceGroup();
    QWidget* CreateTargetGroup();
    QWidget* CreateBatchGroup(QWidget* parent);
    void ChooseBackground();
    void ShowBackground();
    QLayout* CreatePresetRow(QWidget* parent);
    void ListPresets(const QString& current);
    void ChoosePreset(int index);
    void ShowSelectionText();
    void CreateMenu();
    void ResizeWithinScreen(const QSize& wanted);
    void SetTabOrder();
    void ApplySettings();
    void StoreSettings();
    void ShowOptions();
    void ReportOptionEdits();
    void FilterComboBox1Change(int index);

    QString m_iniFileName;
    TSettings m_settings;
    QString m_viewFileName;
    TWindowModel m_model;
    TWindowHost m_host;
    bool m_aboutPending = true;

    TForm2* m_form2 = nullptr;
    TForm3* m_form3 = nullptr;
    TForm4* m_form4 = nullptr;

    QGroupBox* m_gb2 = nullptr;
    TShellCombo* m_shellCombo = nullptr;
    QToolButton* m_speedButtons[4] = {};
    TShellList* m_shellList = nullptr;
    QComboBox* m_filterCombo = nullptr;
    QGroupBox* m_gb1 = nullptr;
    QLineEdit* m_edit1 = nullptr;
    QPushButton* m_button3 = nullptr;
    TRadioGroup* m_rg4 = nullptr;
    TRadioGroup* m_rg3 = nullptr;
    TRadioGroup* m_rg1 = nullptr;
    TRadioGroup* m_rg2 = nullptr;
    QCheckBox* m_keepMetadata = nullptr;
    QCheckBox* m_bestPalette = nullptr;
    QCheckBox* m_fitWithin = nullptr;
    QSpinBox* m_fitWidth = nullptr;
    QSpinBox* m_fitHeight = nullptr;
    QCheckBox* m_autoRotate = nullptr;
    TRadioGroup* m_existing = nullptr;
    QCheckBox* m_subfolders = nullptr;
    QPushButton* m_background = nullptr;
    QToolButton* m_noBackground = nullptr;
    QComboBox* m_preset = nullptr;
    QPushButton* m_savePreset = nullptr;
    QPushButton* m_deletePreset = nullptr;
    QLabel* m_selectionText = nullptr;
    QProgressBar* m_pBar1 = nullptr;
    QPushButton* m_button1 = nullptr;
    QPushButton* m_button2 = nullptr;
};

}  // namespace rastova
