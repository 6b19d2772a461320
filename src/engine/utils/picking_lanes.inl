// The batched triangle test of picking.cpp. That file includes this one twice, once for any
// processor and once for processors with 256-bit registers, each time in its own namespace.
// Every lane does exactly the operations of one triangle.

using FloatLanes = float __attribute__((vector_size(kLanes * sizeof(float))));
using DoubleLanes = double __attribute__((vector_size(kLanes * sizeof(double))));
using MaskLanes = int32_t __attribute__((vector_size(kLanes * sizeof(int32_t))));

struct Vector3Lanes {
    FloatLanes x, y, z;
};

#if MORV_LANES_AVX
// The generic conversion would be split into halves; one instruction does all four lanes.
inline DoubleLanes Wide(FloatLanes a) {
    return DoubleLanes(_mm256_cvtps_pd(__m128(a)));
}
inline FloatLanes Narrow(DoubleLanes a) {
    return FloatLanes(_mm256_cvtpd_ps(__m256d(a)));
}
#else
inline DoubleLanes Wide(FloatLanes a) {
    return __builtin_convertvector(a, DoubleLanes);
}
inline FloatLanes Narrow(DoubleLanes a) {
    return __builtin_convertvector(a, FloatLanes);
}
#endif

// A single sum, difference or product of two floats formed in double and stored as float is
// the float operation itself (double has more than twice the precision, so the second rounding
// cannot change it). Dot and cross products are formed in double as everywhere else.
inline Vector3Lanes Minus(const Vector3Lanes& a, const Vector3Lanes& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

inline Vector3Lanes Cross(const Vector3Lanes& a, const Vector3Lanes& b) {
    const DoubleLanes ax = Wide(a.x), ay = Wide(a.y), az = Wide(a.z);
    const DoubleLanes bx = Wide(b.x), by = Wide(b.y), bz = Wide(b.z);
    return {Narrow(ay * bz - az * by), Narrow(az * bx - ax * bz), Narrow(ax * by - ay * bx)};
}

inline FloatLanes Dot(const Vector3Lanes& a, const Vector3Lanes& b) {
    return Narrow(Wide(a.x) * Wide(b.x) + Wide(a.y) * Wide(b.y) + Wide(a.z) * Wide(b.z));
}

inline FloatLanes Abs(FloatLanes a) {
    MaskLanes bits;
    std::memcpy(&bits, &a, sizeof(bits));
    bits &= 0x7FFFFFFF;
    std::memcpy(&a, &bits, sizeof(a));
    return a;
}

inline FloatLanes Splat(float f) {
    return FloatLanes{} + f;
}

// Tests query.dwIndexCount / 3 triangles into the buffer; false when the hit list could not
// take the hits.
bool TestTriangles(const TrianglePickQuery& query, CHitBuffer& buffer) {
    const uint32_t dwTriangles = query.dwIndexCount / 3;
    const Vector3Lanes vOrigin = {Splat(query.vRayOrigin.x), Splat(query.vRayOrigin.y),
                                  Splat(query.vRayOrigin.z)};
    const Vector3Lanes vDirection = {Splat(query.vRayDirection.x), Splat(query.vRayDirection.y),
                                     Splat(query.vRayDirection.z)};
    bool bStored = true;
    for (uint32_t dwFirst = 0; dwFirst < dwTriangles && bStored; dwFirst += kLanes) {
        const uint32_t dwLanes = std::min<uint32_t>(kLanes, dwTriangles - dwFirst);
        const uint32_t dwAhead = dwFirst + kPrefetchTriangles;
        if (dwAhead + kLanes <= dwTriangles) {
            const uint16_t* pIndex = query.pIndices + 3 * static_cast<size_t>(dwAhead);
            for (int n = 0; n < 3 * kLanes; ++n) {
                __builtin_prefetch(query.pVertices +
                                   static_cast<size_t>(pIndex[n]) * query.dwStride);
            }
        }
        // Positions may sit at any offset of the caller's buffer, so they are copied out.
        // Unused lanes keep zero positions: a degenerate triangle, never a hit.
        auto position = [&](uint32_t k, int n) {
            Vector3 p;
            if (k < dwLanes) {
                const uint16_t wIndex = query.pIndices[3 * (static_cast<size_t>(dwFirst) + k) + n];
                std::memcpy(&p, query.pVertices + static_cast<size_t>(wIndex) * query.dwStride,
                            sizeof(p));
            }
            return p;
        };
        static_assert(kLanes == 4, "one position per lane below");
        Vector3Lanes v[3];
        for (int n = 0; n < 3; ++n) {
            const Vector3 a = position(0, n), b = position(1, n), c = position(2, n),
                          d = position(3, n);
            v[n].x = FloatLanes{a.x, b.x, c.x, d.x};
            v[n].y = FloatLanes{a.y, b.y, c.y, d.y};
            v[n].z = FloatLanes{a.z, b.z, c.z, d.z};
        }
        const Vector3Lanes e1 = Minus(v[1], v[0]);
        const Vector3Lanes e2 = Minus(v[2], v[1]);
        const Vector3Lanes vNormal = Cross(e1, e2);

        // A zero denominator (parallel line, degenerate triangle or zero direction) would give
        // an infinity or NaN; it is not divided by, and its lane is no hit. The float quotient
        // is the double quotient stored as float.
        const FloatLanes fDenominator = Dot(vNormal, vDirection);
        const MaskLanes bNonZero = fDenominator != 0.0f;
        const FloatLanes s =
            Dot(vNormal, Minus(v[0], vOrigin)) / (bNonZero ? fDenominator : Splat(1.0f));
        const MaskLanes bFinite = (s - s) == 0.0f;  // false for infinities and NaN
        const Vector3Lanes vPoint = {s * vDirection.x + vOrigin.x, s * vDirection.y + vOrigin.y,
                                     s * vDirection.z + vOrigin.z};

        const Vector3Lanes c0 = Cross(Minus(vPoint, v[0]), e1);
        // c0 is parallel to the normal: its largest component is the most reliable axis.
        const FloatLanes fAx = Abs(c0.x), fAy = Abs(c0.y), fAz = Abs(c0.z);
        const MaskLanes bXBelowY = fAx < fAy;
        const MaskLanes bY = bXBelowY & (fAy >= fAz);
        const MaskLanes bX = ~bXBelowY & (fAx >= fAz);
        auto onAxis = [&](FloatLanes x, FloatLanes y, FloatLanes z) {
            return bX ? x : (bY ? y : z);
        };
        // Of c1 and c2 only the component on that axis is formed: (a x b) on x is
        // a.y b.z - a.z b.y, on y a.z b.x - a.x b.z, on z a.x b.y - a.y b.x.
        auto crossOnAxis = [&](const Vector3Lanes& a, const Vector3Lanes& b) {
            const FloatLanes p = onAxis(a.y, a.z, a.x), q = onAxis(b.z, b.x, b.y);
            const FloatLanes r = onAxis(a.z, a.x, a.y), t = onAxis(b.y, b.z, b.x);
            return Narrow(Wide(p) * Wide(q) - Wide(r) * Wide(t));
        };
        const FloatLanes f0 = onAxis(c0.x, c0.y, c0.z);
        const FloatLanes f1 = crossOnAxis(Minus(vPoint, v[1]), e2);
        const FloatLanes f2 = crossOnAxis(Minus(vPoint, v[2]), Minus(v[0], v[2]));
        // A point on an edge line or a vertex has a zero component and is not inside.
        const MaskLanes bInside =
            bNonZero & bFinite &
            (((f0 > 0.0f) & (f1 > 0.0f) & (f2 > 0.0f)) | ((f0 < 0.0f) & (f1 < 0.0f) & (f2 < 0.0f)));

        for (uint32_t k = 0; k < dwLanes; ++k) {
            PickHit& hit = buffer.Slot();
            hit.vPoint = {vPoint.x[k], vPoint.y[k], vPoint.z[k]};
            hit.nPickId = query.nPickId;
            buffer.Advance(bInside[k] != 0);
        }
        if (buffer.Full()) {
            bStored = buffer.Flush();
        }
    }
    return bStored;
}
