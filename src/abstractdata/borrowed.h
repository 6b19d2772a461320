// A buffer kept between calls (per thread) and lent to one call at a time.
#pragma once

#include <utility>

// Takes the kept value out for the borrower's lifetime and puts it back when the borrower ends,
// also on an early return or an exception. A nested call (through a virtual function) finds
// the kept value moved from, so it works on a fresh one of its own.
template <typename T>
class CBorrowed {
public:
    explicit CBorrowed(T& kept) : m_kept(kept), m_value(std::move(kept)) {}
    ~CBorrowed() { m_kept = std::move(m_value); }
    CBorrowed(const CBorrowed&) = delete;
    CBorrowed& operator=(const CBorrowed&) = delete;

    T& operator*() { return m_value; }
    T* operator->() { return &m_value; }

private:
    T& m_kept;
    T m_value;
};
