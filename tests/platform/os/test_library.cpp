// A library for the loader tests: one exported answer and the address of a
// function inside it.
#if __has_attribute(dllexport)
#define VSK_TESTLIB_EXPORT extern "C" __attribute__((dllexport))
#else
#define VSK_TESTLIB_EXPORT extern "C" __attribute__((visibility("default")))
#endif

VSK_TESTLIB_EXPORT int VskTestLibAnswer()
{
    return 42;
}

VSK_TESTLIB_EXPORT const void* VskTestLibInnerAddress()
{
    return reinterpret_cast<const void*>(&VskTestLibAnswer);
}
