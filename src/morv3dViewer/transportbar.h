// The transport bar under the 3D view: play/pause, stop, steps, key jumps, the time slider,
// speed and loop over the document's clock. Playing follows the view's pictures: each shown
// picture asks for the next, and the time moves by the wall time (a monotonic clock) that
// passed.
#pragma once

#include <QElapsedTimer>
#include <QWidget>
#include <cstdint>

#include "viewer/playback.h"

class CQVR3DObject;
class CSceneView;
class QCheckBox;
class QComboBox;
class QLabel;
class QSlider;
class QToolButton;

class CTransportBar : public QWidget {
    Q_OBJECT

public:
    CTransportBar(CPlaybackClock* pClock, CSceneView* pView, QWidget* pParent = nullptr);

    // A new scene: stopped at 0, the slider over its animation, which ends at dwEnd.
    void OnDocumentChanged(uint32_t dwEnd);
    // The object whose keys the key jumps go to (null: none).
    void SetKeyObject(CQVR3DObject* pObject) { m_pKeyObject = pObject; }

    CPlaybackClock& Clock() { return *m_pClock; }
    void TogglePlay();
    void Stop();
    void StepBy(int nUnits);
    void JumpToKey(bool bNext);
    void SetTime(double dTime);

signals:
    void timeChanged(uint32_t dwTime);

private:
    void OnFrameShown();
    // The clock's state into the controls and the view; false when the time unit is the same.
    bool Show();

    CPlaybackClock* m_pClock;
    CSceneView* m_pView;
    QElapsedTimer m_wallClock;
    CQVR3DObject* m_pKeyObject = nullptr;
    QToolButton* m_pPlay = nullptr;
    QSlider* m_pSlider = nullptr;
    QLabel* m_pTime = nullptr;
    QComboBox* m_pSpeed = nullptr;
    QCheckBox* m_pLoop = nullptr;
};
