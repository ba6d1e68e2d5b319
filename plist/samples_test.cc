// Reads every sample file kept with the tests (plist/testdata, compiled into this test) and
// checks the outcome its README records.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <set>
#include <string>

#include "plist/codec.h"
#include "plist/plist.h"
#include "text/bytes.h"

namespace plist {
namespace {

enum class Expect { kReject, kRead, kRewriteIdentical };

struct EmbeddedSample {
  const char* path;  // Under plist/testdata.
  const unsigned char* bytes;
  std::size_t size;
};
#include "embedded_samples.inc"

struct Sample {
  const char* path;  // Under the sample folder.
  Expect expect;
};

constexpr Sample kSamples[] = {
    {"cpython/testdata-xml.plist", Expect::kRewriteIdentical},
    {"cpython/testdata-binary.plist", Expect::kRewriteIdentical},
    {"cpython/testdata-keyed-archive.plist", Expect::kRead},
    {"cpython/entity-declaration.plist", Expect::kReject},
    {"rust-plist/binary.plist", Expect::kRewriteIdentical},
    {"rust-plist/utf16_bplist.plist", Expect::kRewriteIdentical},
    {"rust-plist/binary_NSKeyedArchiver.plist", Expect::kRead},
    {"rust-plist/xml.plist", Expect::kRead},
    {"rust-plist/xml-animals.plist", Expect::kRewriteIdentical},
    {"rust-plist/book.plist", Expect::kRead},
    {"rust-plist/binary_circular_array.plist", Expect::kReject},
    {"rust-plist/binary_zero_offset_size.plist", Expect::kReject},
    {"rust-plist/xml_error.plist", Expect::kReject},
    {"rust-plist/xml_entity_error.plist", Expect::kReject},
    {"rust-plist/ascii-sample.plist", Expect::kReject},
    {"go-plist/s01.plist", Expect::kRead},
    {"go-plist/s02.plist", Expect::kRead},
    {"go-plist/s03.plist", Expect::kRead},
    {"go-plist/s04.plist", Expect::kRead},
    {"go-plist/s05.plist", Expect::kReject},
    {"go-plist/s06.plist", Expect::kReject},
    {"go-plist/s07.plist", Expect::kReject},
    {"go-plist/s08.plist", Expect::kReject},
    {"go-plist/s09.plist", Expect::kReject},
    {"go-plist/s10.plist", Expect::kReject},
    {"go-plist/s11.plist", Expect::kRead},
    {"swift-corelibs-foundation/NSKeyedUnarchiver-ComplexTest.plist", Expect::kRead},
    {"swift-corelibs-foundation/NSKeyedUnarchiver-EdgeInsetsTest.plist", Expect::kRewriteIdentical},
    {"swift-corelibs-foundation/NSKeyedUnarchiver-RectTest.plist", Expect::kRewriteIdentical},
    {"swift-corelibs-foundation/NSKeyedUnarchiver-UUIDTest.plist", Expect::kRewriteIdentical},
    {"swift-corelibs-foundation/Test.plist", Expect::kRead},
    {"swift-foundation/Generic_XML_Properties.plist", Expect::kRewriteIdentical},
    {"swift-foundation/Generic_XML_Properties_Binary.plist", Expect::kRewriteIdentical},
    {"swift-foundation/bad_plist.bad", Expect::kReject},
};

std::string ReadSample(const std::string& path) {
  for (const EmbeddedSample& file : kEmbeddedSamples) {
    if (path == file.path) return std::string(reinterpret_cast<const char*>(file.bytes), file.size);
  }
  ADD_FAILURE() << "no sample file " << path;
  return "";
}

Value StringDictionary(const char* key, const char* value) {
  Dictionary d;
  d.append(key, Value(value));
  return Value(d);
}

TEST(SamplesTest, EachFileMeetsItsExpectation) {
  for (const Sample& sample : kSamples) {
    const std::string bytes = ReadSample(sample.path);
    Value value;
    Error error;
    Format format;
    const bool read = Read(bytes, &value, &error, &format);
    if (sample.expect == Expect::kReject) {
      EXPECT_FALSE(read) << sample.path;
      continue;
    }
    EXPECT_TRUE(read) << sample.path << ": " << ErrorCodeName(error.code) << " at " << error.offset;
    if (!read) continue;
    // Binary output keeps dictionary order, so every readable file comes back equal.
    std::string rewritten;
    Value back;
    EXPECT_TRUE(Write(value, Format::kBinary, &rewritten, &error) &&
                ReadBinary(rewritten, &back, &error) && back == value)
        << sample.path;
    if (sample.expect == Expect::kRewriteIdentical) {
      EXPECT_TRUE(Write(value, format, &rewritten, &error) && rewritten == bytes) << sample.path;
    }
    // A document's nodes go into the spare room after its bytes: it reads the same
    // whether they fit there, outgrow it or find none.
    for (const size_t spare : {size_t{0}, size_t{40}, 3 * bytes.size()}) {
      text::Bytes input = text::Bytes::Allocate(bytes.size() + spare);
      std::memcpy(input.data(), bytes.data(), bytes.size());
      input.resize(bytes.size());
      Document document;
      EXPECT_TRUE(Read(std::move(input), &document, &error) && document.root().toValue() == value)
          << sample.path << " with " << spare << " bytes to spare";
    }
  }
}

TEST(SamplesTest, EverySampleFileIsListed) {
  std::set<std::string> listed;
  for (const Sample& sample : kSamples) listed.insert(sample.path);
  std::set<std::string> present;
  for (const EmbeddedSample& file : kEmbeddedSamples) present.insert(file.path);
  EXPECT_EQ(present, listed);
}

TEST(SamplesTest, UnusualXmlCasesGiveTheAgreedValues) {
  const struct {
    const char* path;
    Value expected;
  } cases[] = {
      {"go-plist/s01.plist", StringDictionary("copyright", "\xC2\xA9")},
      {"go-plist/s03.plist", StringDictionary("", "value")},
      {"go-plist/s04.plist", StringDictionary("", "value")},
      {"go-plist/s11.plist", StringDictionary("test", "libplist")},
  };
  for (const auto& c : cases) {
    Value value;
    EXPECT_TRUE(Read(ReadSample(c.path), &value, nullptr)) << c.path;
    EXPECT_TRUE(value == c.expected) << c.path;
  }
}

}  // namespace
}  // namespace plist
