// The logging family's exception type. Nothing in the library raises it, but
// interface boundaries catch it first among all failures.
#pragma once

#include <cstdint>

namespace log4vesk {

struct Exception {
    std::int32_t m_hr;  // first member: the HRESULT-style code

    explicit Exception(std::int32_t hr) : m_hr(hr) {}
    std::int32_t Code() const { return m_hr; }
};

}  // namespace log4vesk
