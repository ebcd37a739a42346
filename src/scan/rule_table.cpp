// Which length rule measures which type. Types without a row are
// recognised but their length cannot be told.

#include "scan/identify.h"
#include "scan/length_rules.h"

namespace relictor::rules {
namespace {

struct RuleOfType {
  std::uint16_t code;
  LengthRule measure;
};

constexpr RuleOfType kRules[] = {
    {kTypeBmp, BmpLength},
    {kTypeJpg, JpegLength},
    {kTypeGif, GifLength},
    {kTypeTga, TgaLength},
    {kTypePcx, PcxLength},
    {kTypePng, PngLength},
    {kTypeOffice, CompoundDocumentLength},
    {kTypeHtm, HtmlLength},
    {kTypeAvi, RiffLength},
    {kTypeWav, RiffLength},
    {kTypeCdr, RiffLength},
    {kTypeZip, ZipLength},
    {kTypePdf, PdfLength},
    {kTypeMp3, Mp3Length},
    {kTypeOgg, OggLength},
    {kTypeMp4, Mp4Length},
    {kTypeMpg, MpegProgramLength},
    {kTypeRar, RarLength},
};

}  // namespace

LengthRule RuleFor(std::uint16_t code) {
  for (const RuleOfType& r : kRules) {
    if (r.code == code) return r.measure;
  }
  return nullptr;
}

}  // namespace relictor::rules
