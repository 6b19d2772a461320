#include "transportbar.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QTimer>
#include <QToolButton>

#include "engine/3dobjects/objects.h"
#include "sceneview.h"

CTransportBar::CTransportBar(CPlaybackClock* pClock, CSceneView* pView, QWidget* pParent)
    : QWidget(pParent), m_pClock(pClock), m_pView(pView) {
    auto* pLayout = new QHBoxLayout(this);
    pLayout->setContentsMargins(4, 2, 4, 2);
    const auto button = [&](QStyle::StandardPixmap icon, const QString& strTip, auto&& slot) {
        auto* pButton = new QToolButton(this);
        pButton->setIcon(style()->standardIcon(icon));
        pButton->setToolTip(strTip);
        pButton->setAutoRaise(true);
        connect(pButton, &QToolButton::clicked, this, slot);
        pLayout->addWidget(pButton);
        return pButton;
    };
    button(QStyle::SP_MediaStop, tr("Stopp (zurück zum Anfang)"), [this] { Stop(); });
    button(QStyle::SP_MediaSkipBackward, tr("Vorheriger Schlüssel"), [this] { JumpToKey(false); });
    button(QStyle::SP_MediaSeekBackward, tr("Eine Zeiteinheit zurück"), [this] { StepBy(-1); });
    m_pPlay =
        button(QStyle::SP_MediaPlay, tr("Abspielen/Pause (Leertaste)"), [this] { TogglePlay(); });
    button(QStyle::SP_MediaSeekForward, tr("Eine Zeiteinheit vor"), [this] { StepBy(1); });
    button(QStyle::SP_MediaSkipForward, tr("Nächster Schlüssel"), [this] { JumpToKey(true); });

    m_pSlider = new QSlider(Qt::Horizontal, this);
    m_pSlider->setToolTip(tr("Zeit"));
    pLayout->addWidget(m_pSlider, 1);
    connect(m_pSlider, &QSlider::valueChanged, this, [this](int nValue) {
        m_pClock->SetTime(nValue);
        Show();
    });
    m_pTime = new QLabel(this);
    m_pTime->setMinimumWidth(
        m_pTime->fontMetrics().horizontalAdvance(QStringLiteral("00000 / 00000")));
    pLayout->addWidget(m_pTime);

    m_pSpeed = new QComboBox(this);
    m_pSpeed->setToolTip(tr("Geschwindigkeit"));
    for (const double dSpeed : {0.25, 0.5, 1.0, 2.0, 4.0}) {
        m_pSpeed->addItem(QLocale().toString(dSpeed) + QLatin1Char('x'), dSpeed);
    }
    m_pSpeed->setCurrentIndex(2);
    connect(m_pSpeed, &QComboBox::currentIndexChanged, this,
            [this](int nIndex) { m_pClock->SetSpeed(m_pSpeed->itemData(nIndex).toDouble()); });
    pLayout->addWidget(m_pSpeed);
    m_pLoop = new QCheckBox(tr("Wiederholen"), this);
    m_pLoop->setChecked(m_pClock->Loops());
    connect(m_pLoop, &QCheckBox::toggled, this, [this](bool bOn) { m_pClock->SetLoop(bOn); });
    pLayout->addWidget(m_pLoop);

    connect(pView, &CSceneView::frameShown, this, &CTransportBar::OnFrameShown);
    Show();
}

void CTransportBar::OnDocumentChanged(uint32_t dwEnd) {
    m_pClock->Stop();
    m_pClock->SetEndTime(dwEnd);
    m_pKeyObject = nullptr;
    Show();
}

void CTransportBar::TogglePlay() {
    m_pClock->TogglePlay();
    m_wallClock.restart();
    Show();
    if (m_pClock->IsPlaying()) {
        m_pView->Redraw();  // the first picture starts the beat
    }
}

void CTransportBar::Stop() {
    m_pClock->Stop();
    Show();
}

void CTransportBar::StepBy(int nUnits) {
    m_pClock->Step(nUnits);
    Show();
}

void CTransportBar::JumpToKey(bool bNext) {
    const std::vector<uint32_t> keys = KeyTimes(m_pKeyObject);
    m_pClock->Pause();
    m_pClock->SetTime(bNext ? NextKeyTime(keys, m_pClock->CurrentTime())
                            : PreviousKeyTime(keys, m_pClock->CurrentTime()));
    Show();
}

void CTransportBar::SetTime(double dTime) {
    m_pClock->SetTime(dTime);
    Show();
}

void CTransportBar::OnFrameShown() {
    if (!m_pClock->IsPlaying()) {
        return;
    }
    // The next picture when the event loop is free again: input stays responsive.
    QTimer::singleShot(0, this, [this] {
        if (!m_pClock->IsPlaying()) {
            return;
        }
        const qint64 nNanoseconds = m_wallClock.nsecsElapsed();
        m_wallClock.restart();
        m_pClock->Advance(static_cast<double>(nNanoseconds) / 1e9);
        if (!Show() && m_pClock->IsPlaying()) {
            m_pView->Redraw();  // no new time yet: wait for the next picture anyway
        }
    });
}

bool CTransportBar::Show() {
    {
        const QSignalBlocker block(m_pSlider);
        m_pSlider->setRange(0,
                            static_cast<int>(std::min<uint32_t>(m_pClock->EndTime(), INT32_MAX)));
        m_pSlider->setValue(static_cast<int>(std::min<uint32_t>(m_pClock->Time(), INT32_MAX)));
    }
    m_pTime->setText(QStringLiteral("%1 / %2").arg(m_pClock->Time()).arg(m_pClock->EndTime()));
    m_pPlay->setIcon(style()->standardIcon(m_pClock->IsPlaying() ? QStyle::SP_MediaPause
                                                                 : QStyle::SP_MediaPlay));
    if (!m_pView->FollowClock()) {
        return false;
    }
    emit timeChanged(m_pClock->Time());
    return true;
}
