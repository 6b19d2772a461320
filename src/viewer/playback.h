// The 3D view's animation clock: play, pause, loop, speed and stepping over scene time, and
// the key times of an object to jump between. Plain data and maths; the document that holds it
// hands Time() to the root's SetTime.
#pragma once

#include <cstdint>
#include <vector>

class CQVR3DObject;

class CPlaybackClock {
public:
    static constexpr double kMinSpeed = 0.25;
    static constexpr double kMaxSpeed = 4.0;
    static constexpr double kDefaultRate = 30.0;  // scene time units per second

    // The last time of the animation (the root's GetAnimationTimeHierarchy); the current time
    // is kept inside 0..end.
    void SetEndTime(uint32_t dwEnd);
    uint32_t EndTime() const { return m_dwEnd; }

    bool IsPlaying() const { return m_bPlaying; }
    // Playing from the end of an animation that does not loop starts it again from 0.
    void Play();
    void Pause() { m_bPlaying = false; }
    void TogglePlay();
    // Time 0, paused.
    void Stop();

    bool Loops() const { return m_bLoop; }
    void SetLoop(bool bLoop) { m_bLoop = bLoop; }

    // Clamped to kMinSpeed..kMaxSpeed; a value that is not a number is ignored.
    void SetSpeed(double dSpeed);

    // Moves the time on by dSeconds of wall time while playing: wraps around with loop on,
    // otherwise stops (paused) at the end. Negative or non-finite intervals are ignored.
    void Advance(double dSeconds);
    // The whole time unit the current time is in, moved by nUnits, clamped to 0..end; pauses,
    // since a step while playing would be lost in the next frame.
    void Step(int nUnits);
    // Clamped to 0..end; not a number is ignored.
    void SetTime(double dTime);

    double CurrentTime() const { return m_dTime; }
    // The current time as the engine's SetTime takes it: the whole units reached.
    uint32_t Time() const;

private:
    double m_dTime = 0.0;
    double m_dSpeed = 1.0;
    uint32_t m_dwEnd = 0;
    bool m_bPlaying = false;
    bool m_bLoop = true;
};

// The key times of an object, ascending, each once: a node's position and rotation keys, a
// mesh's morph keys; none for other objects (and when memory runs out).
std::vector<uint32_t> KeyTimes(CQVR3DObject* pObject);
// The first key time strictly after / the last strictly before dTime; dTime itself when there
// is none. keys ascending, as KeyTimes gives them.
double NextKeyTime(const std::vector<uint32_t>& keys, double dTime);
double PreviousKeyTime(const std::vector<uint32_t>& keys, double dTime);
