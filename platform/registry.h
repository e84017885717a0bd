#pragma once
// The settings store: the registry's calls and semantics over plain files.
//
// Each key is one text file in the .reg export syntax under the store's root
// folder: the key path maps to sub-folders, its last part to "<name>.reg".
// A key exists when its file or its folder of sub-keys exists. Every query reads
// the file afresh and every change rewrites it atomically, so a crash never
// leaves a half-written key and two handles to one key never lose each other's
// values.

#include <string>

#include "platform/wintypes.h"

struct RegistryKey;
using HKEY = RegistryKey*;
using REGSAM = DWORD;

extern HKEY const HKEY_CURRENT_USER;
extern HKEY const HKEY_LOCAL_MACHINE;

inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM READ_CONTROL = 0x00020000;
inline constexpr REGSAM KEY_READ = READ_CONTROL | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY;
inline constexpr REGSAM KEY_WRITE = READ_CONTROL | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_QWORD = 11;

inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;
inline constexpr LONG ERROR_PATH_NOT_FOUND = 3;
inline constexpr LONG ERROR_ACCESS_DENIED = 5;
inline constexpr LONG ERROR_INVALID_HANDLE = 6;
inline constexpr LONG ERROR_INVALID_PARAMETER = 87;
inline constexpr LONG ERROR_DISK_FULL = 112;
inline constexpr LONG ERROR_MORE_DATA = 234;
inline constexpr LONG ERROR_BADKEY = 1010;
inline constexpr LONG ERROR_CANTOPEN = 1011;
inline constexpr LONG ERROR_CANTREAD = 1012;
inline constexpr LONG ERROR_CANTWRITE = 1013;
inline constexpr LONG ERROR_KEY_DELETED = 1018;

// The store's root folder: $TAVRICK_REGISTRY_DIR, else $XDG_CONFIG_HOME/tavrick/registry,
// else ~/.config/tavrick/registry. Empty when none of them can be found. A handle
// keeps the root it was opened under.
std::string RegistryRootDirectory();

// The file that holds a key, for people and tests: "<root>/HKEY_LOCAL_MACHINE/Software/x.reg".
// Empty for a key path that no key can have.
std::string RegistryKeyFile(HKEY root, const char* subKey);

// Opens an existing key. A key file that can't be read (not a regular file, no
// permission, absurdly large) fails the open, and so does asking to set values
// where the key's file can't be replaced; lines it can't understand are skipped.
LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, REGSAM desired, HKEY* result);

// Opens the key, creating it and the folders above it first when it doesn't exist.
// A new key gets its file at once, so a store that can't be written fails here.
LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD reserved, char* keyClass, DWORD options, REGSAM desired,
                     const void* security, HKEY* result, DWORD* disposition);

// Copies a value's bytes into data, at most *size bytes. A value larger than
// *size gives ERROR_MORE_DATA with its size in *size and leaves data untouched;
// data nullptr asks for the size only. type, when given, receives the stored type.
LONG RegQueryValueExA(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size);

// Stores a value (name nullptr or "" is the key's default value) and rewrites the
// key's file atomically. On failure the file stays as it was.
LONG RegSetValueExA(HKEY key, const char* name, DWORD reserved, DWORD type, const BYTE* data, DWORD size);

// Removes a key that has no sub-keys. A missing key gives ERROR_FILE_NOT_FOUND.
LONG RegDeleteKeyA(HKEY key, const char* subKey);

LONG RegCloseKey(HKEY key);
