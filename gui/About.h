// The About box: program name, version, maker, and two lines that open the
// home page and a new mail with the desktop's default programs.
#pragma once

#include <QDialog>
#include <QUrl>

#include <functional>

class QLabel;
class QPushButton;

namespace rastova {

inline const char* const kProgramVersion = "1.11";
inline const char* const kHomePage = "https://rastova.example.org";
inline const char* const kSupportMail = "team@rastova.example.org";

class TForm3 : public QDialog {
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent = nullptr);

    // Opens an address; returns false when the desktop could not. The default
    // is QDesktopServices::openUrl.
    using TLauncher = std::function<bool(const QUrl&)>;
    void SetLauncher(TLauncher launcher) { m_launcher = std::move(launcher); }

    QLabel* Label4() const { return m_label4; }
    QLabel* Label5() const { return m_label5; }
    QPushButton* Button1() const { return m_button1; }

    void Label4Click();
    void Label5Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void SetLinkColors(bool homePageHot, bool mailHot);

    QLabel* m_label4;
    QLabel* m_label5;
    QPushButton* m_button1;
    TLauncher m_launcher;
};

}  // namespace rastova
