// The about box.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* pParent = nullptr);

    QLabel* TextLabel() const { return m_pText; }
    QPushButton* OkButton() const { return m_pOk; }

private:
    QLabel* m_pIcon;
    QLabel* m_pText;
    QPushButton* m_pOk;
};
