// The JPEG quality dialog, asked before every conversion to JPG.
#pragma once

#include <QDialog>

#include <optional>

class QPushButton;
class QSlider;

namespace rastova {

class TForm2 : public QDialog {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);

    // Shows the dialog modally. OK stores the bar's position in choice, Cancel
    // and Esc store nullopt, the title-bar close leaves choice as it was.
    void Ask(std::optional<int>& choice);

    QSlider* TrBar1() const { return m_trBar1; }
    QPushButton* Button1() const { return m_button1; }
    QPushButton* Button2() const { return m_button2; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void Button1Click();
    void Button2Click();

    QSlider* m_trBar1;
    QPushButton* m_button1;
    QPushButton* m_button2;
    std::optional<int>* m_choice = nullptr;
};

}  // namespace rastova
