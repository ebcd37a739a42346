#pragma once
// Checks of a release: the Ed25519 signature over the update description
// and the SHA-256 of each downloaded file, both with OpenSSL.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace relictor::update {

// The name of the trusted public key file, installed beside the programs.
inline constexpr char kTrustedKeyFileName[] = "relictor_update.pub";
// An Ed25519 signature is exactly this long.
inline constexpr std::size_t kSignatureSize = 64;

// True when `signature` is a valid Ed25519 signature of `message` by the
// public key in `publicKeyPem` (a PEM "PUBLIC KEY" block, as
// `openssl pkey -pubout` writes it). A key of any other type, a damaged
// key, or a signature of the wrong length is never valid.
bool VerifyEd25519(std::span<const std::uint8_t> publicKeyPem, std::span<const std::uint8_t> message,
                   std::span<const std::uint8_t> signature);

// SHA-256 computed over data fed in pieces.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  void Add(std::span<const std::uint8_t> data);
  // The digest of everything added; false when OpenSSL failed, so that a
  // failure can never pass for some digest.
  bool Finish(std::array<std::uint8_t, 32>& digest);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

std::string HexText(std::span<const std::uint8_t> bytes);

}  // namespace relictor::update
