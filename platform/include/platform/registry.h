// A small registry: keys under two roots, REG_SZ values (named and the
// default), subkey enumeration, deletion. Windows: the system registry.
// Linux: a file-backed store at $VSK_REGISTRY_FILE (default
// $HOME/.vsk-registry) with the same rules: key paths separated by '\\',
// key and value names compared without regard to case, creating a key creates
// its missing parents. Every change rewrites the file atomically (temporary
// file and rename) under an exclusive flock of "<file>.lock"; reads take a
// shared one.
#pragma once

#include <string>
#include <vector>

namespace platform {

enum class ERegistryRoot {
    CLASSES_ROOT,
    CURRENT_USER,
};

// path is relative to the root, parts separated by '\\'. A null or empty
// value name means the key's default value.
bool RegistryCreateKey(ERegistryRoot root, const std::wstring& path);
bool RegistryKeyExists(ERegistryRoot root, const std::wstring& path);
// Creates the key when missing.
bool RegistrySetString(ERegistryRoot root, const std::wstring& path, const wchar_t* valueName,
                       const std::wstring& value);
// False when the key or value is missing or not a string.
bool RegistryGetString(ERegistryRoot root, const std::wstring& path, const wchar_t* valueName,
                       std::wstring& value);
bool RegistryDeleteValue(ERegistryRoot root, const std::wstring& path, const wchar_t* valueName);
// Names of the direct subkeys (empty when the key is missing).
std::vector<std::wstring> RegistrySubKeys(ERegistryRoot root, const std::wstring& path);
// Deletes a key that has no subkeys (false when it has some or is missing).
bool RegistryDeleteKey(ERegistryRoot root, const std::wstring& path);
// Deletes a key with all its subkeys (false when it is missing).
bool RegistryDeleteTree(ERegistryRoot root, const std::wstring& path);

// The Win32 error code of the calling thread's last registry change that
// failed (5 ERROR_ACCESS_DENIED for a user without the right to write, ...),
// so a caller can report why. Linux: the store file's errno as the matching
// Win32 error (EACCES, EPERM, EROFS: 5; ENOENT, ENOTDIR: 3
// ERROR_PATH_NOT_FOUND; ENOSPC, EDQUOT: 112 ERROR_DISK_FULL; any other: 29
// ERROR_WRITE_FAULT), and 2 ERROR_FILE_NOT_FOUND for a key or value that is
// missing, 5 for a key that still has subkeys, as Windows answers.
unsigned long RegistryLastError();

}  // namespace platform
