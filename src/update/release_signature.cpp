#include "update/release_signature.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <climits>

namespace relictor::update {

bool VerifyEd25519(std::span<const std::uint8_t> publicKeyPem, std::span<const std::uint8_t> message,
                   std::span<const std::uint8_t> signature) {
  if (signature.size() != kSignatureSize || publicKeyPem.empty() || publicKeyPem.size() > INT_MAX) return false;
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(publicKeyPem.data(), static_cast<int>(publicKeyPem.size())),
                                                &BIO_free);
  if (!bio) return false;
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr),
                                                          &EVP_PKEY_free);
  if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_ED25519) return false;
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  if (!ctx) return false;
  // Ed25519 signs the whole message at once; it takes no separate digest.
  if (EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1) return false;
  return EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), message.data(), message.size()) == 1;
}

struct Sha256::State {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx{EVP_MD_CTX_new(), &EVP_MD_CTX_free};
  bool ok = false;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  state_->ok = state_->ctx && EVP_DigestInit_ex(state_->ctx.get(), EVP_sha256(), nullptr) == 1;
}

Sha256::~Sha256() = default;

void Sha256::Add(std::span<const std::uint8_t> data) {
  if (state_->ok && !data.empty()) state_->ok = EVP_DigestUpdate(state_->ctx.get(), data.data(), data.size()) == 1;
}

bool Sha256::Finish(std::array<std::uint8_t, 32>& digest) {
  unsigned int size = 0;
  bool ok = state_->ok && EVP_DigestFinal_ex(state_->ctx.get(), digest.data(), &size) == 1 && size == digest.size();
  state_->ok = false;
  return ok;
}

std::string HexText(std::span<const std::uint8_t> bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    text.push_back(kDigits[b >> 4]);
    text.push_back(kDigits[b & 15]);
  }
  return text;
}

}  // namespace relictor::update
