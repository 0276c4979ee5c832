#include "arraygen.h"

#include "read_file.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::string read_file(const std::string &path)
{
    return zeltest::read_file(path, "<missing " + path + ">");
}

void write_file(const std::string &path, const std::string &data)
{
    FILE *f = fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, f) << path;
    fwrite(data.data(), 1, data.size(), f);
    fclose(f);
}

class Conversion : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char *tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp ? tmp : "/tmp") + "/arraygen_test.XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        ASSERT_NE(nullptr, mkdtemp(buf.data()));
        dir = buf.data();
        inPath = dir + "/in.xml";
        outPath = dir + "/out.php";
    }
    void TearDown() override
    {
        unlink(inPath.c_str());
        unlink(outPath.c_str());
        rmdir(dir.c_str());
    }

    std::string convert(const std::string &xml)
    {
        write_file(inPath, xml);
        {
            arraygen conv;
            EXPECT_EQ(1, conv.setOutputFile(outPath.c_str()));
            conv.processFile(inPath.c_str());
            EXPECT_FALSE(conv.outOfMemory());
        }
        return read_file(outPath);
    }

    std::string dir, inPath, outPath;
};

std::string php(const std::string &lines)
{
    return "<?php\n" + lines + "?>\n";
}

TEST_F(Conversion, GoldenFilesConvertByteExact)
{
    std::string golden = ARRAYGEN_GOLDEN_DIR;
    DIR *d = opendir(golden.c_str());
    ASSERT_NE(nullptr, d);
    std::vector<std::string> names;
    while (dirent *e = readdir(d)) {
        std::string n = e->d_name;
        if (n.size() > 4 && n.compare(n.size() - 4, 4, ".xml") == 0)
            names.push_back(n.substr(0, n.size() - 4));
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    ASSERT_GE(names.size(), 20u);
    for (const std::string &n : names) {
        SCOPED_TRACE(n);
        EXPECT_EQ(read_file(golden + "/" + n + ".php"), convert(read_file(golden + "/" + n + ".xml")));
    }
}

TEST_F(Conversion, LongTagsAndTextsComeOutWhole)
{
    std::string text, key;
    for (int i = 0; i < 10000; i++)
        text += static_cast<char>('a' + i % 26);
    for (int i = 0; i < 5000; i++)
        key += static_cast<char>('A' + i % 26);
    EXPECT_EQ(php("$r[0][\"" + key + "\"] = \"" + text + "\";\n"),
              convert("<r><" + key + ">" + text + "</" + key + "></r>"));
}

TEST_F(Conversion, TextsOverManyChunksAreEscapedWholeAndDroppedWhole)
{
    // Long enough to fill several of the blocks a long text is kept in, with a
    // byte to escape at every fifth place so some fall on each edge; then a
    // short text after it that still crosses a chunk edge.
    std::string text, escaped;
    for (int i = 0; i < 300000; i++) {
        char c = "ab'$\\\"cd"[i % 7 == 3 ? (i / 7) % 4 + 2 : i % 2];
        text += c;
        if (c == '\'' || c == '$' || c == '\\' || c == '"')
            escaped += '\\';
        escaped += c;
    }
    std::string shortText(5000, 'x');
    EXPECT_EQ(php("$r[0][\"a\"] = \"" + escaped + "\";\n$r[0][\"b\"] = \"" + shortText + "\";\n"),
              convert("<r><a>" + text + "</a><b>" + shortText + "</b></r>"));
    // The same text in front of a container's first child is not written, and
    // leaves nothing behind for the leaf after it.
    EXPECT_EQ(php("$r[0][\"c\"][0][\"a\"] = \"" + shortText + "\";\n"),
              convert("<r><c>" + text + "<a>" + shortText + "</a></c></r>"));
}

TEST_F(Conversion, MarkupAcrossEveryChunkOffsetIsAssembled)
{
    // Slide the document over the 4095-byte chunk edge so that each of its
    // delimiters lands on the edge once.
    const std::string doc = "<list><e><t>It's \"x\"</t></e></list>";
    const std::string expected = php("$list[0][\"e\"][0][\"t\"] = \"It\\'s \\\"x\\\"\";\n");
    for (size_t pad = 4095 - doc.size() - 1; pad <= 4096; pad++) {
        SCOPED_TRACE(pad);
        ASSERT_EQ(expected, convert(std::string(pad, ' ') + doc));
    }
}

TEST_F(Conversion, NulByteSkipsTheRestOfItsChunk)
{
    std::string chunk1 = "<r><a>1</a>";
    chunk1 += '\0';
    chunk1 += "<lost>never written</lost>";
    chunk1.resize(4095, 'z');
    EXPECT_EQ(php("$r[0][\"a\"] = \"1\";\n$r[0][\"b\"] = \"2\";\n"), convert(chunk1 + "<b>2</b></r>"));
    std::string cut = "<r><a>x";
    cut += '\0';
    cut += "y</a></r>";
    EXPECT_EQ(php(""), convert(cut));
}

TEST_F(Conversion, DeepAndUnbalancedDocumentsStayInsideTheTables)
{
    std::string deep;
    for (int i = 0; i < 1000; i++)
        deep += "<d>";
    deep += "<v>x</v>";
    for (int i = 0; i < 1000; i++)
        deep += "</d>";
    deep += "<n><v>after</v></n>";
    EXPECT_EQ(php("$d[1][\"v\"] = \"after\";\n"), convert(deep));

    std::string closers;
    for (int i = 0; i < 1000; i++)
        closers += "</x>";
    EXPECT_EQ(php("$r[0][\"a\"] = \"1\";\n"), convert(closers + "<r><a>1</a></r>" + closers));
}

TEST_F(Conversion, UnreadableInputIsTheOnlyLine)
{
    {
        arraygen conv;
        ASSERT_EQ(1, conv.setOutputFile(outPath.c_str()));
        conv.processFile("/nonexistent/in.xml");
    }
    EXPECT_EQ("QV: cannot read file/nonexistent/in.xml\n", read_file(outPath));
}

TEST_F(Conversion, OutputThatCannotBeWrittenIsNoticed)
{
    write_file(inPath, read_file(std::string(ARRAYGEN_GOLDEN_DIR) + "/worked_example.xml"));
    arraygen conv;
    EXPECT_EQ(0, conv.setOutputFile("/nonexistent/out.php"));
    ASSERT_EQ(1, conv.setOutputFile("/dev/full"));
    conv.processFile(inPath.c_str());
    EXPECT_TRUE(conv.outputFailed());
}

int allocationsLeft;
void *failing_malloc(size_t size)
{
    if (allocationsLeft <= 0)
        return nullptr;
    allocationsLeft--;
    return malloc(size);
}

TEST_F(Conversion, RunningOutOfMemoryEndsWithAFileThatParses)
{
    // The worked example, and long texts whose blocks run out part way.
    std::string texts = "<r><a>" + std::string(200000, 't') + "</a><c>" + std::string(140000, ' ') + "<b>" +
                        std::string(70000, 'u') + "</b></c></r>";
    for (const std::string &xml : {read_file(std::string(ARRAYGEN_GOLDEN_DIR) + "/worked_example.xml"), texts}) {
        std::string full = convert(xml);
        write_file(inPath, xml);
        bool sawFailure = false;
        for (int budget = 0; budget < 400; budget++) {
            SCOPED_TRACE(budget);
            bool failed;
            {
                arraygen conv;
                ASSERT_EQ(1, conv.setOutputFile(outPath.c_str()));
                allocationsLeft = budget;
                imString::allocate = failing_malloc;
                conv.processFile(inPath.c_str());
                imString::allocate = malloc;
                failed = conv.outOfMemory();
            }
            std::string out = read_file(outPath);
            if (!failed) {
                EXPECT_EQ(full, out);
                continue;
            }
            sawFailure = true;
            // Whole lines of the full result, then the closing line.
            ASSERT_GE(out.size(), 9u);
            EXPECT_EQ(0u, out.compare(out.size() - 3, 3, "?>\n"));
            std::string body = out.substr(0, out.size() - 3);
            EXPECT_EQ(0u, full.compare(0, body.size(), body));
            EXPECT_EQ('\n', body.back());
        }
        EXPECT_TRUE(sawFailure);
    }
}

TEST(ChkTag, MatchesFirstThenSecondPrefix)
{
    arraygen conv;
    conv.setOutputFile("/dev/null"); // the object closes its output, even standard output
    EXPECT_EQ(0, conv.chkTag(nullptr, "a", "b"));
    EXPECT_EQ(1, conv.chkTag("entry>", "entry", "e"));
    EXPECT_EQ(2, conv.chkTag("/entry>", "entry", "/"));
    EXPECT_EQ(0, conv.chkTag("ent", "entry", "/"));
}

} // namespace
