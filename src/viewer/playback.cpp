#include "viewer/playback.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "abstractdata/debugreport.h"
#include "engine/3dobjects/mesh.h"
#include "engine/3dobjects/objects.h"

static constexpr char kReportUnit[] = "viewer/playback";

void CPlaybackClock::SetEndTime(uint32_t dwEnd) {
    m_dwEnd = dwEnd;
    m_dTime = std::min(m_dTime, static_cast<double>(m_dwEnd));
}

void CPlaybackClock::Play() {
    if (!m_bLoop && m_dTime >= static_cast<double>(m_dwEnd)) {
        m_dTime = 0.0;
    }
    m_bPlaying = true;
}

void CPlaybackClock::TogglePlay() {
    if (m_bPlaying) {
        Pause();
    } else {
        Play();
    }
}

void CPlaybackClock::Stop() {
    m_dTime = 0.0;
    m_bPlaying = false;
}

void CPlaybackClock::SetSpeed(double dSpeed) {
    if (!std::isnan(dSpeed)) {
        m_dSpeed = std::clamp(dSpeed, kMinSpeed, kMaxSpeed);
    }
}

void CPlaybackClock::Advance(double dSeconds) {
    if (!m_bPlaying || !std::isfinite(dSeconds) || dSeconds <= 0.0) {
        return;
    }
    const double dEnd = static_cast<double>(m_dwEnd);
    const double dTime = m_dTime + dSeconds * m_dSpeed * kDefaultRate;
    if (dTime < dEnd) {
        m_dTime = dTime;  // also absorbs a product that overflowed to infinity below
    } else if (m_bLoop && m_dwEnd != 0 && std::isfinite(dTime)) {
        m_dTime = std::fmod(dTime, dEnd);
    } else if (m_bLoop) {
        m_dTime = 0.0;  // nothing to loop over, or an interval too long to place
    } else {
        m_dTime = dEnd;
        m_bPlaying = false;
    }
}

void CPlaybackClock::Step(int nUnits) {
    const int64_t llTime = static_cast<int64_t>(Time()) + nUnits;
    m_dTime = static_cast<double>(std::clamp<int64_t>(llTime, 0, m_dwEnd));
    m_bPlaying = false;
}

void CPlaybackClock::SetTime(double dTime) {
    if (!std::isnan(dTime)) {
        m_dTime = std::clamp(dTime, 0.0, static_cast<double>(m_dwEnd));
    }
}

uint32_t CPlaybackClock::Time() const {
    // m_dTime stays inside 0..end, so the whole part fits.
    return static_cast<uint32_t>(std::floor(m_dTime));
}

std::vector<uint32_t> KeyTimes(CQVR3DObject* pObject) {
    std::vector<uint32_t> times;
    if (pObject == nullptr) {
        return times;
    }
    try {
        if (auto* pNode = dynamic_cast<CQVR3DNode*>(pObject)) {
            const CQVR3DTransform& transform = pNode->transform;
            times.reserve(transform.PositionKeys().size() + transform.RotationKeys().size());
            for (const PositionKey& key : transform.PositionKeys()) {
                times.push_back(key.dwTime);
            }
            for (const RotationKey& key : transform.RotationKeys()) {
                times.push_back(key.dwTime);
            }
        } else if (auto* pMesh = dynamic_cast<CQVR3DMesh*>(pObject)) {
            if (pMesh->pGeometry != nullptr) {
                times.reserve(pMesh->pGeometry->morphKeys.size());
                for (const MorphKey& key : pMesh->pGeometry->morphKeys) {
                    times.push_back(key.dwTime);
                }
            }
        }
    } catch (const std::bad_alloc&) {
        ASSERT_HRESULT(E_OUTOFMEMORY);
        return {};
    }
    // Sorted here rather than trusted: the tracks come from a file.
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    return times;
}

double NextKeyTime(const std::vector<uint32_t>& keys, double dTime) {
    const auto it = std::upper_bound(keys.begin(), keys.end(), dTime,
                                     [](double d, uint32_t dwKey) { return d < dwKey; });
    return it != keys.end() ? static_cast<double>(*it) : dTime;
}

double PreviousKeyTime(const std::vector<uint32_t>& keys, double dTime) {
    const auto it = std::lower_bound(keys.begin(), keys.end(), dTime,
                                     [](uint32_t dwKey, double d) { return dwKey < d; });
    return it != keys.begin() ? static_cast<double>(*std::prev(it)) : dTime;
}
