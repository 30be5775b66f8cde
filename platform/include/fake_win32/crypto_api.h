// Cryptography Next Generation, as far as hashing goes: what bcrypt.dll
// offers, in memory, for SHA-256 only. The product never links these: it
// loads bcrypt.dll at run time and takes the functions from it with
// GetProcAddress, which hands out these ones here (library_api.h).
//
// Every function logs its call and fails on demand with the NTSTATUS given
// as the fault's error (fake_win32/control.h); BCryptCloseAlgorithmProvider
// and BCryptDestroyHash still release when they are made to fail. Algorithm
// and hash handles go through the resource ledger ("algorithm", "hash").
// Recorded as misuses: closing an algorithm while a hash made from it is
// open, a hash object buffer smaller than the algorithm's ObjectLength, and
// feeding a hash that was finished.
#pragma once

#include "fake_win32/api.h"

typedef unsigned char UCHAR;
typedef UCHAR* PUCHAR;
typedef LONG NTSTATUS;
typedef PVOID BCRYPT_HANDLE;
typedef PVOID BCRYPT_ALG_HANDLE;
typedef PVOID BCRYPT_HASH_HANDLE;

#define BCRYPT_SUCCESS(status) (static_cast<NTSTATUS>(status) >= 0)
#define STATUS_SUCCESS static_cast<NTSTATUS>(0x00000000L)
#define STATUS_UNSUCCESSFUL static_cast<NTSTATUS>(0xC0000001L)
#define STATUS_INVALID_HANDLE static_cast<NTSTATUS>(0xC0000008L)
#define STATUS_INVALID_PARAMETER static_cast<NTSTATUS>(0xC000000DL)
#define STATUS_NO_MEMORY static_cast<NTSTATUS>(0xC0000017L)
#define STATUS_BUFFER_TOO_SMALL static_cast<NTSTATUS>(0xC0000023L)
#define STATUS_NOT_SUPPORTED static_cast<NTSTATUS>(0xC00000BBL)
#define STATUS_NOT_FOUND static_cast<NTSTATUS>(0xC0000225L)

#define BCRYPT_SHA256_ALGORITHM L"SHA256"
#define BCRYPT_OBJECT_LENGTH L"ObjectLength"
#define BCRYPT_HASH_LENGTH L"HashDigestLength"

NTSTATUS WINAPI BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR algorithmId,
                                            LPCWSTR implementation, ULONG flags);
NTSTATUS WINAPI BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG flags);
// Properties of an algorithm: ObjectLength (the size of a hash object) and
// HashDigestLength, each a ULONG.
NTSTATUS WINAPI BCryptGetProperty(BCRYPT_HANDLE object, LPCWSTR property, PUCHAR output, ULONG outputSize,
                                  ULONG* result, ULONG flags);
NTSTATUS WINAPI BCryptCreateHash(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE* hash, PUCHAR hashObject,
                                 ULONG hashObjectSize, PUCHAR secret, ULONG secretSize, ULONG flags);
NTSTATUS WINAPI BCryptHashData(BCRYPT_HASH_HANDLE hash, PUCHAR input, ULONG inputSize, ULONG flags);
NTSTATUS WINAPI BCryptFinishHash(BCRYPT_HASH_HANDLE hash, PUCHAR output, ULONG outputSize, ULONG flags);
NTSTATUS WINAPI BCryptDestroyHash(BCRYPT_HASH_HANDLE hash);
