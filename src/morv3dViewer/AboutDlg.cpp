#include "AboutDlg.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>

#include "pictures.h"
#include "resource.h"

namespace {

// Dialog units to pixels through the dialog font's average character size, so the layout
// keeps its proportions with any font.
class CDialogUnits {
public:
    explicit CDialogUnits(const QFontMetrics& metrics)
        : m_dBaseX(metrics.horizontalAdvance(
                       QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
                   52.0),
          m_dBaseY(metrics.height()) {}
    int X(int n) const { return static_cast<int>(n * m_dBaseX / 4.0 + 0.5); }
    int Y(int n) const { return static_cast<int>(n * m_dBaseY / 8.0 + 0.5); }
    QRect Rect(int x, int y, int cx, int cy) const { return QRect(X(x), Y(y), X(cx), Y(cy)); }

private:
    double m_dBaseX;
    double m_dBaseY;
};

}  // namespace

CAboutDlg::CAboutDlg(QWidget* pParent)
    : QDialog(pParent),
      m_pIcon(new QLabel(this)),
      m_pText(new QLabel(tr("morv3dViewer Version %1").arg(QLatin1String(kAppVersion)), this)),
      m_pOk(new QPushButton(QStringLiteral("OK"), this)) {
    setWindowTitle(tr("Info über morv3dViewer"));
    setModal(true);
    const CDialogUnits du(fontMetrics());

    m_pIcon->setPixmap(ApplicationIcon().pixmap(32, 32));
    m_pIcon->setGeometry(QRect(QPoint(du.X(11), du.Y(17)), QSize(32, 32)));
    m_pText->setTextFormat(Qt::PlainText);
    m_pText->setGeometry(du.Rect(40, 10, 119, 8));
    m_pOk->setGeometry(du.Rect(178, 7, 50, 14));
    m_pOk->setDefault(true);
    connect(m_pOk, &QPushButton::clicked, this, &QDialog::accept);
    setFixedSize(du.X(235), du.Y(55));
}
