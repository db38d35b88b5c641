#include "platform/file.h"

namespace platform {

namespace {
thread_local int t_readFailureScopes = 0;
}

CReadFailureScope::CReadFailureScope()
{
    ++t_readFailureScopes;
}

CReadFailureScope::~CReadFailureScope()
{
    --t_readFailureScopes;
}

bool detail::ReadsFail()
{
    return t_readFailureScopes > 0;
}

}  // namespace platform
