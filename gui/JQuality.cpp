#include "gui/JQuality.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QScreen>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

namespace rastova {

namespace {

constexpr int kClientWidth = 274;
constexpr int kClientHeight = 158;

QLabel* BoldLabel(const char* text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

}  // namespace

TForm2::TForm2(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint)
{
    setWindowTitle("Jpeg quality");
    setModal(true);

    m_trBar1 = new QSlider(Qt::Horizontal, this);
    m_trBar1->setRange(5, 95);
    m_trBar1->setValue(75);
    m_trBar1->setSingleStep(10);
    m_trBar1->setPageStep(10);
    m_trBar1->setTickPosition(QSlider::TicksBelow);
    m_trBar1->setTickInterval(10);
    m_trBar1->setAccessibleName("JPEG quality");
    // The chosen number beside the slider, as wide as its widest value so the slider does not move.
    auto* number = new QLabel(this);
    number->setAccessibleName("Quality");
    number->setMinimumWidth(number->fontMetrics().horizontalAdvance("95") + 4);
    number->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    const auto showValue = [this, number](int value) {
        m_trBar1->setToolTip(QString::number(value));
        number->setText(QString::number(value));
        m_trBar1->setAccessibleDescription(QString::number(value));
    };
    showValue(m_trBar1->value());
    connect(m_trBar1, &QSlider::valueChanged, this, showValue);

    m_button1 = new QPushButton("OK", this);
    m_button2 = new QPushButton("Cancel", this);
    m_button1->setDefault(true);
    connect(m_button1, &QPushButton::clicked, this, &TForm2::Button1Click);
    connect(m_button2, &QPushButton::clicked, this, &TForm2::Button2Click);

    auto* scale = new QGridLayout;
    scale->addWidget(m_trBar1, 0, 0, 1, 2);
    scale->addWidget(number, 0, 2);
    scale->addWidget(BoldLabel("Low", this), 1, 0, Qt::AlignLeft);
    scale->addWidget(BoldLabel("High", this), 1, 1, Qt::AlignRight);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_button1);
    buttons->addWidget(m_button2);
    buttons->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addLayout(scale);
    layout->addStretch();
    layout->addLayout(buttons);
    // Larger fonts may need more room than the designed client area.
    setFixedSize(layout->sizeHint().expandedTo(QSize(kClientWidth, kClientHeight)));
}

void TForm2::Ask(std::optional<int>& choice)
{
    m_choice = &choice;
    if (const QScreen* screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }
    m_trBar1->setFocus();
    exec();
    m_choice = nullptr;
}

void TForm2::Button1Click()
{
    if (m_choice)
        *m_choice = m_trBar1->value();
    accept();
}

void TForm2::Button2Click()
{
    if (m_choice)
        *m_choice = std::nullopt;
    QDialog::reject();
}

void TForm2::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        Button2Click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TForm2::closeEvent(QCloseEvent* event)
{
    // The title-bar close changes nothing: the previous choice stands.
    setResult(QDialog::Rejected);
    event->accept();
}

}  // namespace rastova
