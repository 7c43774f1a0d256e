// Opening for writing and read-write: new files replacing old documents, appends
// to missing, empty, non-empty and foreign files, and where appends go on.
#include <gtest/gtest.h>

#include "catalog/catalog.h"
#include "format/open_for_writing.h"
#include "format/part_files.h"
#include "platform/byte_order.h"
#include "support/documents.h"

namespace tova::testing {
namespace {

// The section identifiers of a byte stream, each followed by its entries' identifiers.
std::vector<std::vector<uint16_t>> Shapes(const Bytes& b) {
  auto length = [&](size_t at) { return std::max<size_t>(6, platform::GetU32(&b[at])); };
  std::vector<std::vector<uint16_t>> out;
  for (size_t pos = 0; pos + 6 <= b.size(); pos += length(pos)) {
    out.push_back({platform::GetU16(&b[pos + 4])});
    for (size_t e = pos + 6; e + 6 <= std::min(pos + length(pos), b.size()); e += length(e))
      out.back().push_back(platform::GetU16(&b[e + 4]));
  }
  return out;
}

TEST(OpenForWriting, ANewFileReplacesTheDocumentWithItsContinuationFilesAndOrphanParts) {
  TempTree dir;
  const std::u16string a = dir.Path(u"a.tova"), b = dir.Path(u"b.tova");
  for (const char16_t* name : {u"a.tova", u"a.tova 001", u"a.tova 002", u"b.tova 001", u"b.tova 002"})
    ASSERT_TRUE(WriteFileBytes(dir.Path(name), "old"));
  {
    Handle w(OpenWrite(a, 0));
    EXPECT_EQ(TypeOf(w), TOVA_TYPE_WRITE);
  }
  EXPECT_EQ(DirectoryNames(dir.path(), u"a.tova"), std::vector<std::u16string>{u"a.tova"});
  EXPECT_TRUE(ReadFileBytes(a).empty());
  // Orphan parts would otherwise be counted by the next append-open, which
  // would then write where no reader looks.
  ASSERT_EQ(WriteDocument(b, {1}), TOVA_OK);
  EXPECT_FALSE(PathExists(b + u" 001"));
  ASSERT_EQ(AppendValues(Handle(OpenWrite(b, 1)), {2}), TOVA_OK);
  EXPECT_EQ(ReadValues(b), (Values{1, 2}));
}

TEST(OpenForWriting, AppendsToMissingAndEmptyFiles) {
  TempTree dir;
  for (uint32_t rw : {0u, 1u}) {
    const std::u16string path = dir.Path(rw ? u"rw.tova" : u"w.tova");
    {
      Handle h(rw ? OpenReadWrite(path, 1) : OpenWrite(path, 1));  // a missing file is created
      EXPECT_TRUE(PathExists(path));
      EXPECT_EQ(AppendValues(h, {5, 6}), TOVA_OK);
      if (rw) EXPECT_EQ(DocumentValues(h), (Values{5, 6}));
    }
    EXPECT_EQ(ReadValues(path), (Values{5, 6}));
  }
  // An empty file: a write document writes from its start; a read-write document is refused.
  const std::u16string path = dir.Path(u"e.tova");
  ASSERT_TRUE(WriteFileBytes(path, ""));
  const size_t before = api::TheRegistry().Count();
  EXPECT_EQ(OpenReadWrite(path, 1), TOVADLL_INVALID_HANDLE);
  EXPECT_EQ(api::TheRegistry().Count(), before);
  EXPECT_TRUE(ReadFileBytes(path).empty());
  ASSERT_EQ(AppendValues(Handle(OpenWrite(path, 1)), {1, 2}), TOVA_OK);
  EXPECT_EQ(Shapes(ReadFileBytes(path)).at(0).at(0), kGH);
  EXPECT_EQ(ReadValues(path), (Values{1, 2}));
}

// The first dataset in full form, every later one (also after an append-open)
// in per-dataset form; an image entry that holds for every dataset is stored once.
TEST(OpenForWriting, AppendsAddDatasetsInPerDatasetFormAfterTheFirst) {
  TempTree dir;
  const std::u16string path = dir.Path(u"a.tova");
  {
    Handle w(OpenWrite(path, 0));
    for (uint16_t v : {1, 2}) {
      Handle s(MakeSource(v));
      SetU16(s, kIM, 0x0380, 9);
      ASSERT_EQ(TOVADLL_ADD_TOVA(w, s, 0), TOVA_OK);
    }
  }
  const Bytes first = ReadFileBytes(path);
  ASSERT_EQ(AppendValues(Handle(OpenWrite(path, 1)), {3}), TOVA_OK);
  const Bytes all = ReadFileBytes(path);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), all.begin()));
  const std::vector<std::vector<uint16_t>> expected = {
      {kGH, TOVA_GH_INFO_DeviceString_MBC, TOVA_GH_INFO_SensorX, TOVA_GH_INFO_SensorY},
      {kDH, TOVA_DH_DREC_DataUnit, TOVA_DH_TCAL_Version, TOVA_DH_DREC_SizeX, TOVA_DH_DREC_SizeY,
       TOVA_DH_PARAM_MeasurementRange, kValue},
      {kIM, kImageData, 0x0380}, {kDH, kValue}, {kIM, kImageData}, {kDH, kValue}, {kIM, kImageData}};
  EXPECT_EQ(Shapes(all), expected);
  EXPECT_EQ(ReadValues(path), (Values{1, 2, 3}));
}

TEST(OpenForWriting, AppendOpenOfAFileWithoutTheTovaExtensionIsRefused) {
  TempTree dir;
  const std::u16string tova = dir.Path(u"a.tova");
  ASSERT_EQ(WriteDocument(tova, {1}), TOVA_OK);
  const Bytes bytes = ReadFileBytes(tova);
  for (const std::u16string& other : {dir.Path(u"a.tovb"), dir.Path(u"a_tova")}) {
    ASSERT_TRUE(WriteFileBytes(other, bytes));
    EXPECT_EQ(OpenWrite(other, 1), TOVADLL_INVALID_HANDLE);
    EXPECT_EQ(OpenReadWrite(other, 1), TOVADLL_INVALID_HANDLE);
    CTOVAFile doc(catalog::Rules());
    EXPECT_EQ(format::OpenForWriting(doc, other, format::WriteStart::kAppend, format::Access::kWrite, NoProgress()),
              Code::kAppendExtension);
    EXPECT_EQ(doc.type, DocumentType::kClosed);
    EXPECT_EQ(ReadFileBytes(other), bytes);
  }
}

// Appending to a document the reader sees only in part: the datasets go
// exactly where its scan ended, or the open is refused and no file changes.
TEST(OpenForWriting, AppendGoesWhereTheReaderEndsOrIsRefused) {
  const struct {
    const char* name;
    Bytes tail;        // appended to the main file of a two-dataset document
    Bytes stray_part;  // content of a leftover "a.tova 001", if any
    bool refused;
  } cases[] = {
      {"one stray byte after the last dataset", {0xAB}, {}, false},
      {"a leftover continuation file beside a main file with room", {}, {1, 2, 3}, true},
      {"one image section more than data headers", Header(6, kIM), {}, true},
      {"one data header more than image sections", Header(6, kDH), {}, true},
  };
  for (const auto& c : cases) {
    for (bool rw : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (rw ? ", read-write" : ", write"));
      TempTree dir;
      const std::u16string path = dir.Path(u"a.tova");
      ASSERT_EQ(WriteDocument(path, {1, 2}), TOVA_OK);
      const Bytes main = Concat({ReadFileBytes(path), c.tail});
      ASSERT_TRUE(WriteFileBytes(path, main));
      if (!c.stray_part.empty()) ASSERT_TRUE(WriteFileBytes(path + u" 001", c.stray_part));
      {
        Handle h(rw ? OpenReadWrite(path, 1) : OpenWrite(path, 1));
        EXPECT_EQ(h.valid(), !c.refused);
        if (!c.refused) EXPECT_EQ(AppendValues(h, {3}), TOVA_OK);
      }
      if (c.refused) EXPECT_EQ(ReadFileBytes(path), main);
      if (c.refused && !c.stray_part.empty()) EXPECT_EQ(ReadFileBytes(path + u" 001"), c.stray_part);
      if (!c.refused) EXPECT_EQ(ReadValues(path), (Values{1, 2, 3}));
    }
  }
}

}  // namespace
}  // namespace tova::testing
