// The main window: folder browsing and file selection on the left, destination
// and conversion options on the right, Start and Close/Stop below.
#pragma once

#include "gui/Settings.h"
#include "gui/WindowHost.h"
#include "gui/WindowModel.h"

#include <QGroupBox>
#include <QMainWindow>

class QButtonGroup;
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
    TRadioGroup* RG3() const { return m_rg3; }
    TRadioGroup* RG4() const { return m_rg4; }
    QProgressBar* PBar1() const { return m_pBar1; }
    QPushButton* Button1() const { return m_button1; }
    QPushButton* Button2() const { return m_button2; }
    QToolButton* SpeedButton(int number) const { return m_speedButtons[number - 1]; }
    TForm2* JpegQualityDialog() const { return m_form2; }

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* CreateSourceGroup();
    QWidget* CreateTargetGroup();
    void CreateMenu();
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
    QProgressBar* m_pBar1 = nullptr;
    QPushButton* m_button1 = nullptr;
    QPushButton* m_button2 = nullptr;
};

}  // namespace rastova
