#include "platform/activation.h"

namespace platform {

namespace {
constexpr std::int32_t NOT_IMPLEMENTED = static_cast<std::int32_t>(0x80004001u);
}

CProgramActivationContext::CProgramActivationContext(unsigned) : m_result(NOT_IMPLEMENTED) {}

CProgramActivationContext::~CProgramActivationContext() = default;

}  // namespace platform
