// The parts of the update that read untrusted bytes on their own: the
// description file, the version comparison, the version note of a program
// file and the signature check.

#include <QCoreApplication>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

#include <openssl/evp.h>
#include <openssl/pem.h>

#include "update/product_version.h"
#include "update/release_signature.h"
#include "update/update_description.h"
#include "update_test_support.h"

using namespace relictor::update;
using namespace relictor::update::testing;

namespace {

std::span<const std::uint8_t> Bytes(const QByteArray& a) {
  return {reinterpret_cast<const std::uint8_t*>(a.constData()), static_cast<std::size_t>(a.size())};
}

std::optional<std::string> Value(const QByteArray& text, const char* section, const char* key) {
  return IniValue(Bytes(text), section, key);
}

bool Parse(const QByteArray& text, UpdateDescription& out, std::string* error = nullptr) {
  std::string e;
  bool ok = ParseUpdateDescription(Bytes(text), out, e);
  if (error) *error = e;
  return ok;
}

const QByteArray kSha(64, 'a');

}  // namespace

class UpdateFormatsTest : public QObject {
  Q_OBJECT

 private slots:
  void iniValuesAreFoundLikeTheProfileFunctionsFindThem() {
    QByteArray text =
        "; comment\n[Other]\nVERSION=9.9\n[ relictor ]\r\n  version  =  \"1.200\"  \r\nVERSION=7\n"
        "Empty=\nFILE0 = /a/b\n[Next]\nFILE1=/x\n";
    QCOMPARE(Value(text, "Relictor", "VERSION"), std::optional<std::string>("1.200"));
    QCOMPARE(Value(text, "RELICTOR", "file0"), std::optional<std::string>("/a/b"));
    QCOMPARE(Value(text, "Relictor", "Empty"), std::optional<std::string>(""));
    QVERIFY(!Value(text, "Relictor", "FILE1"));
    QVERIFY(!Value(text, "Missing", "VERSION"));
    // A NUL ends a line, so nothing hides behind one.
    QByteArray withNul("[Relictor]\nVERSION=1.5\0FILE0=/x\n", 32);
    QCOMPARE(Value(withNul, "Relictor", "VERSION"), std::optional<std::string>("1.5"));
    QCOMPARE(Value(withNul, "Relictor", "FILE0"), std::optional<std::string>("/x"));
  }

  void versionsCompareAsThirtyTwoBitNumbers() {
    QVERIFY(!IsNewerVersion("1.100", "1.100"));
    QVERIFY(!IsNewerVersion("1.1", "1.100"));       // equal numbers
    QVERIFY(!IsNewerVersion("1.10000001", "1.1"));  // equal as 32-bit floats
    QVERIFY(IsNewerVersion("1.2", "1.100"));
    QVERIFY(IsNewerVersion("1.101", "1.100"));
    QVERIFY(!IsNewerVersion("1.099", "1.100"));
    QVERIFY(!IsNewerVersion("1.000", "1.100"));  // the default of a missing VERSION
    QVERIFY(IsNewerVersion("  2.0 beta", "1.100"));  // the leading number counts
    QVERIFY(IsNewerVersion("1.2e0", "1.100"));
    // Texts without a leading number are never newer, and nothing is newer
    // than an installed version without one.
    for (const char* bad : {"", "abc", "v2.0", "nan", "inf", "-", ".", "0x2", "1e999"})
      QVERIFY2(!IsNewerVersion(bad, "1.100"), bad);
    QVERIFY(!IsNewerVersion("9.0", "unknown"));
    QCOMPARE(VersionNumber("0x2"), std::optional<float>(0.0f));
  }

  void aDescriptionListsItsFilesWithTheirDigests() {
    QByteArray text = "[Relictor]\nVERSION=1.200\nFILE0=//update//1.200/relictor\nSHA2560=" + kSha +
                      "\nFILE1=/update/1.200/readme.txt\nSHA2561=" + QByteArray(64, 'F') +
                      "\nFILE3=/update/skipped\nSHA2563=" + kSha + "\n";
    UpdateDescription d;
    QVERIFY(Parse(text, d));
    QCOMPARE(d.version, std::string("1.200"));
    QCOMPARE(d.files.size(), std::size_t{2});  // the list ends at the missing FILE2
    QCOMPARE(d.files[0].path, std::string("//update//1.200/relictor"));
    QCOMPARE(d.files[0].name, std::string("relictor"));
    QCOMPARE(d.files[1].name, std::string("readme.txt"));
    QCOMPARE(d.files[1].sha256[0], std::uint8_t{0xFF});

    QVERIFY(Parse("[Relictor]\nFILE1=/a\nSHA2561=" + kSha, d));  // no FILE0: nothing to download
    QCOMPARE(d.version, std::string("1.000"));
    QVERIFY(d.files.empty());
    QVERIFY(Parse("[Relictor]\nVERSION=" + QByteArray(100, '7') + "\n", d));
    QCOMPARE(d.version.size(), std::size_t{63});  // the 64-character buffer
  }

  void unsafeFilesAreRefused_data() {
    QTest::addColumn<QByteArray>("entry");
    QTest::newRow("empty name") << QByteArray("FILE0=/update/\nSHA2560=" + kSha);
    QTest::newRow("dot") << QByteArray("FILE0=/update/.\nSHA2560=" + kSha);
    QTest::newRow("dot dot") << QByteArray("FILE0=/update/..\nSHA2560=" + kSha);
    QTest::newRow("backslash") << QByteArray("FILE0=/update/..\\..\\etc\\passwd\nSHA2560=" + kSha);
    QTest::newRow("control character") << QByteArray("FILE0=/update/a\x01" "b\nSHA2560=" + kSha);
    QTest::newRow("escape") << QByteArray("FILE0=/update/a\x1b[2Jb\nSHA2560=" + kSha);
    QTest::newRow("delete character") << QByteArray("FILE0=/update/a\x7f\nSHA2560=" + kSha);
    QTest::newRow("relative path") << QByteArray("FILE0=../relictor\nSHA2560=" + kSha);
    QTest::newRow("other host") << QByteArray("FILE0=http://elsewhere/relictor\nSHA2560=" + kSha);
    QTest::newRow("blank") << QByteArray("FILE0=/update/a b\nSHA2560=" + kSha);
    QTest::newRow("download suffix") << QByteArray("FILE0=/update/relictor.UPG\nSHA2560=" + kSha);
    QTest::newRow("path too long") << QByteArray("FILE0=/" + QByteArray(259, 'a') + "\nSHA2560=" + kSha);
    QTest::newRow("no digest") << QByteArray("FILE0=/update/relictor\n");
    QTest::newRow("short digest") << QByteArray("FILE0=/update/relictor\nSHA2560=" + QByteArray(63, 'a'));
    QTest::newRow("digest not hex") << QByteArray("FILE0=/update/relictor\nSHA2560=" + QByteArray(63, 'a') + "g");
    QTest::newRow("same name twice") << QByteArray("FILE0=/a/relictor\nSHA2560=" + kSha + "\nFILE1=/b/relictor\nSHA2561=" + kSha);
  }
  void unsafeFilesAreRefused() {
    QFETCH(QByteArray, entry);
    UpdateDescription d;
    std::string error;
    QVERIFY(!Parse("[Relictor]\nVERSION=2\n" + entry + "\n", d, &error));
    QVERIFY(!error.empty());
    QVERIFY(d.files.empty());
  }

  void safeNamesAreAccepted() {
    for (const char* name : {"relictor", "patchwell", "relictor_update.pub", "Read Me.txt", "a.upgrade", "..x", "x.."})
      QVERIFY2(IsSafeReleaseFileName(name), name);
  }

  void hugeAndBinaryDescriptionsEndCleanly() {
    UpdateDescription d;
    QVERIFY(!Parse(QByteArray(static_cast<qsizetype>(kMaxDescriptionSize) + 1, 'x'), d));
    QByteArray many = "[Relictor]\n";
    for (int i = 0; i <= 256; ++i)
      many += "FILE" + QByteArray::number(i) + "=/f" + QByteArray::number(i) + "\nSHA256" + QByteArray::number(i) + "=" + kSha + "\n";
    QVERIFY(!Parse(many, d));
    // Random bytes: whatever they say, the parser ends and lists only safe names.
    QRandomGenerator random(11);
    for (int round = 0; round < 300; ++round) {
      QByteArray noise(static_cast<qsizetype>(random.bounded(4096)), '\0');
      for (char& c : noise) c = static_cast<char>(random.bounded(256));
      if (round % 2) noise.prepend("[Relictor]\nFILE0=/x/");
      if (Parse(noise, d))
        for (const ReleaseFile& f : d.files) QVERIFY(IsSafeReleaseFileName(f.name));
    }
  }

  void theVersionNoteIsReadFromTheProgramFile() {
    QCOMPARE(ProductVersionOfFile(FakeRelictorPath().toStdString()), std::string("1.100"));
    QCOMPARE(ProductVersionOfFile(FakeRelictorNextPath().toStdString()), std::string("1.200"));
    // Stripping the program keeps the note.
    QTemporaryDir dir;
    const QString stripped = dir.filePath(QStringLiteral("relictor"));
    QCOMPARE(QProcess::execute(QStringLiteral("strip"), {QStringLiteral("-o"), stripped, FakeRelictorPath()}), 0);
    QCOMPARE(ProductVersionOfFile(stripped.toStdString()), std::string("1.100"));
    // Programs without the note, other files, and no file give no version.
    QCOMPARE(ProductVersionOfFile("/bin/sleep"), std::string());
    QCOMPARE(ProductVersionOfFile(dir.path().toStdString()), std::string());
    QCOMPARE(ProductVersionOfFile(dir.filePath(QStringLiteral("missing")).toStdString()), std::string());
    const QString text = dir.filePath(QStringLiteral("text"));
    WriteFile(text, "VERSION=1.100\n");
    QCOMPARE(ProductVersionOfFile(text.toStdString()), std::string());
  }

  void aDamagedProgramFileGivesNoVersionAndNoCrash() {
    const QByteArray program = ReadFile(FakeRelictorPath());
    QVERIFY(program.size() > 1000);
    const qsizetype at = program.indexOf(QByteArray("Kalvor\0\0" "1.100", 13));
    QVERIFY(at > 0);
    QCOMPARE(ProductVersionFromElf(Bytes(program)), std::string("1.100"));
    // Cut short anywhere before the end of the note.
    for (qsizetype cut : {qsizetype{0}, qsizetype{4}, qsizetype{52}, qsizetype{63}, qsizetype{64}, at + 12})
      QCOMPARE(ProductVersionFromElf(Bytes(program.left(cut))), std::string());
    // A version text with a control character is not taken.
    QByteArray hostile = program;
    hostile[at + 9] = '\n';
    QCOMPARE(ProductVersionFromElf(Bytes(hostile)), std::string());
    // Random damage anywhere: any answer is fine as long as the reader
    // stays inside the buffer (the sanitizer builds check that).
    QRandomGenerator random(7);
    for (int round = 0; round < 2000; ++round) {
      QByteArray damaged = program.left(qMin<qsizetype>(program.size(), 16384));
      for (int i = 0; i < 8; ++i) damaged[random.bounded(static_cast<int>(damaged.size()))] = static_cast<char>(random.bounded(256));
      std::string version = ProductVersionFromElf(Bytes(damaged));
      QVERIFY(version.size() < 64);
    }
  }

  void signaturesAreCheckedAgainstTheTrustedKey() {
    SigningKey trusted, other;
    const QByteArray message = "[Relictor]\nVERSION=1.200\n";
    const QByteArray signature = trusted.Sign(message);
    QVERIFY(VerifyEd25519(Bytes(trusted.PublicPem()), Bytes(message), Bytes(signature)));
    QVERIFY(!VerifyEd25519(Bytes(other.PublicPem()), Bytes(message), Bytes(signature)));
    QVERIFY(!VerifyEd25519(Bytes(trusted.PublicPem()), Bytes(message + " "), Bytes(signature)));
    QByteArray flipped = signature;
    flipped[5] = static_cast<char>(flipped[5] ^ 1);
    QVERIFY(!VerifyEd25519(Bytes(trusted.PublicPem()), Bytes(message), Bytes(flipped)));
    QVERIFY(!VerifyEd25519(Bytes(trusted.PublicPem()), Bytes(message), Bytes(signature.left(63))));
    QVERIFY(!VerifyEd25519(Bytes(trusted.PublicPem()), Bytes(message), Bytes(signature + "x")));
    QVERIFY(!VerifyEd25519(Bytes(QByteArray("not a key")), Bytes(message), Bytes(signature)));
    QVERIFY(!VerifyEd25519({}, Bytes(message), Bytes(signature)));
    // A key of another type is not trusted even when its signature is good.
    EVP_PKEY* ec = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    QVERIFY(ec);
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PUBKEY(bio, ec);
    char* data = nullptr;
    long size = BIO_get_mem_data(bio, &data);
    QByteArray ecPem(data, static_cast<qsizetype>(size));
    BIO_free(bio);
    EVP_PKEY_free(ec);
    QVERIFY(!VerifyEd25519(Bytes(ecPem), Bytes(message), Bytes(signature)));
  }

  void digestsMatchOpenSslsCommandLine() {
    Sha256 sha;
    sha.Add(Bytes(QByteArray("ab")));
    sha.Add(Bytes(QByteArray("c")));
    std::array<std::uint8_t, 32> digest{};
    QVERIFY(sha.Finish(digest));
    QCOMPARE(QByteArray::fromStdString(HexText(digest)),
             QByteArray("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    QVERIFY(!sha.Finish(digest));  // a finished digest cannot pass for another
  }
};

RELICTOR_UPDATE_TEST_MAIN(QCoreApplication, UpdateFormatsTest)
#include "test_update_formats.moc"
