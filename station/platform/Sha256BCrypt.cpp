#include <windows.h>

#include <bcrypt.h>

#include <algorithm>

#include "station/platform/Sha256.h"

namespace tarvok {

namespace {

constexpr ULONG kSha256Bytes = 32;

bool Digest(const uint8_t* data, size_t size, UCHAR (&digest)[kSha256Bytes]) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!BCRYPT_SUCCESS(
          BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    return false;
  }
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool done = BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0));
  // The data goes in pieces that a ULONG counts.
  for (size_t at = 0; done && at < size;) {
    const size_t piece = std::min<size_t>(size - at, 1u << 30);
    done = BCRYPT_SUCCESS(
        BCryptHashData(hash, const_cast<PUCHAR>(data + at), static_cast<ULONG>(piece), 0));
    at += piece;
  }
  done = done && BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, kSha256Bytes, 0));
  if (hash != nullptr) {
    BCryptDestroyHash(hash);
  }
  BCryptCloseAlgorithmProvider(algorithm, 0);
  return done;
}

}  // namespace

std::string Sha256Hex(const uint8_t* data, size_t size) {
  UCHAR digest[kSha256Bytes];
  if (!Digest(data, size, digest)) {
    return {};
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (const UCHAR byte : digest) {
    hex += kHex[byte >> 4];
    hex += kHex[byte & 0x0f];
  }
  return hex;
}

}  // namespace tarvok
