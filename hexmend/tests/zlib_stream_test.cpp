#include "core/zlib_stream.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/checked_write.h"
#include "core/run_failure.h"
#include "core/run_state.h"
#include "memory_host.h"
#include "view_source.h"

namespace hexmend {
namespace {

Bytes FromHex(std::string_view hex) {
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
    }
    return bytes;
}

// zlib's one-call compression.
Bytes Compress2(std::string_view input, int level = Z_DEFAULT_COMPRESSION) {
    uLongf size = compressBound(static_cast<uLong>(input.size()));
    std::vector<Bytef> out(size);
    const int code = compress2(out.data(), &size, reinterpret_cast<const Bytef*>(input.data()),
                               static_cast<uLong>(input.size()), level);
    EXPECT_EQ(code, Z_OK);
    return Bytes(reinterpret_cast<const char*>(out.data()), size);
}

// Inflates the zlib stream that starts at data; *consumed receives the length
// of the stream, so that whatever follows it is known to be unread.
Bytes Inflate(std::string_view data, std::size_t* consumed) {
    z_stream stream{};
    EXPECT_EQ(inflateInit(&stream), Z_OK);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    Bytes result;
    std::vector<Bytef> buffer(4096);
    int code = Z_OK;
    while (code == Z_OK) {
        stream.next_out = buffer.data();
        stream.avail_out = static_cast<uInt>(buffer.size());
        code = inflate(&stream, Z_NO_FLUSH);
        result.append(reinterpret_cast<const char*>(buffer.data()),
                      buffer.size() - stream.avail_out);
    }
    EXPECT_EQ(code, Z_STREAM_END);
    *consumed = stream.total_in;
    inflateEnd(&stream);
    return result;
}

Bytes ReadFile(const std::string& path) {
    Bytes bytes;
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        char buffer[65536];
        std::size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
            bytes.append(buffer, got);
        }
        std::fclose(file);
    }
    return bytes;
}

Bytes RandomBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 random(seed);
    Bytes bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random() & 0xFF);
    }
    return bytes;
}

// Text that compresses well but not trivially: random words.
Bytes WordText(std::size_t size, std::uint32_t seed) {
    static const char* const kWords[] = {"alpha ", "beta ", "gamma\n", "delta ", "epsilon ",
                                         "zeta ",  "eta\n", "theta ",  "iota ",  "kappa "};
    std::mt19937 random(seed);
    Bytes text;
    while (text.size() < size) {
        text += kWords[random() % 10];
    }
    text.resize(size);
    return text;
}

// The inputs every producer is checked on, from empty to several megabytes
// and to streams whose output spans many 64 KiB buffers.
std::vector<Bytes> SampleInputs() {
    return {
        "",
        "a",
        Bytes(1, '\0'),
        "Hello, zlib!",
        Bytes(100000, 'x'),
        WordText(65536, 1),
        WordText(3 << 20, 2),
        RandomBytes(65535, 3),
        RandomBytes(300000, 4),  // incompressible: output > 64 KiB
    };
}

TEST(CompressWithZlib, EmptyInputIsTheEightByteStream) {
    EXPECT_EQ(CompressWithZlib(""), FromHex("789c030000000001"));
}

TEST(CompressWithZlib, IdenticalToCompress2AtTheDefaultLevel) {
    for (const Bytes& input : SampleInputs()) {
        const Bytes stream = CompressWithZlib(input);
        ASSERT_EQ(stream, Compress2(input)) << "input of " << input.size() << " bytes";
        ASSERT_EQ(stream.substr(0, 2), "\x78\x9C");
    }
}

// Streams made by Python's zlib module at its default level:
//   python3 -c "import zlib; print(zlib.compress(b'Hello, zlib!').hex())"
//   python3 -c "import zlib; t=''.join('line %d: the quick brown fox jumps over the lazy dog\n'
//               % (i % 37) for i in range(300)).encode(); print(zlib.compress(t).hex())"
TEST(CompressWithZlib, MatchesGoldenStreams) {
    EXPECT_EQ(CompressWithZlib("Hello, zlib!"),
              FromHex("789cf348cdc9c9d751a8cac94c5204001b650413"));
    std::string text;
    for (int i = 0; i < 300; ++i) {
        text +=
            "line " + std::to_string(i % 37) + ": the quick brown fox jumps over the lazy dog\n";
    }
    EXPECT_EQ(
        CompressWithZlib(text),
        FromHex("789cedd5c96dc3401005d1bba39810dc3d5a9d8d25512b4dcad4aee80d2b84ba09a8f3e09fa6d0afdd"
                "754df9fc2ae76d537e2fbbe5a12c86fed695757f2ffbcbcff154fa6b33bc9edbefe7a3acfacd47fbbf"
                "09b049b0a96033029b31d84cc0660a3633b099933f4521901282a410a485203104a921480e417a0812"
                "449022921491e8369022921491a48824452429224911498a4852442545545244455c90222a29a2922"
                "22a29429ee5599ee5599ee5599ee5599ee5599ee5599ee5599ee5599ee5599ee5599ee5599ee5599e"
                "e5599ee5599ee5599ee5599ee5599ee5599ee5599ee5599ee5599ee5599ee5599ee5599ee5599ee55"
                "99edf97e73f97e3abd6"));
}

// Compares with Python's zlib module at run time, on the larger inputs too.
// CTest passes the interpreter in HEXMEND_TEST_PYTHON.
TEST(CompressWithZlib, MatchesPythonsZlibModule) {
    const char* python = std::getenv("HEXMEND_TEST_PYTHON");
    if (python == nullptr || *python == '\0') {
        GTEST_SKIP() << "HEXMEND_TEST_PYTHON is not set: CTest sets it, but not for a Windows "
                        "build, whose programs cannot start the build machine's interpreter";
    }
    // One interpreter run compresses every input file "<path>" into "<path>.z".
    const std::vector<Bytes> inputs = SampleInputs();
    std::vector<std::string> paths;
    std::string command = std::string("\"") + python +
                          "\" -c \"import sys, zlib\n"
                          "for p in sys.argv[1:]: open(p + '.z', 'wb').write(zlib.compress(open(p, "
                          "'rb').read()))\"";
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        paths.push_back(::testing::TempDir() + "zlib_stream_test_" + std::to_string(i));
        std::ofstream(paths.back(), std::ios::binary) << inputs[i];
        command += " \"" + paths.back() + "\"";
    }
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        EXPECT_EQ(CompressWithZlib(inputs[i]), ReadFile(paths[i] + ".z"))
            << "input of " << inputs[i].size() << " bytes";
        std::remove(paths[i].c_str());
        std::remove((paths[i] + ".z").c_str());
    }
}

TEST(ZlibFailureDescription, NamesTheCode) {
    EXPECT_EQ(ZlibFailureDescription(Z_ERRNO), "zlib: File error");
    EXPECT_EQ(ZlibFailureDescription(Z_STREAM_ERROR), "zlib: Stream error");
    EXPECT_EQ(ZlibFailureDescription(Z_DATA_ERROR), "zlib: Data error");
    EXPECT_EQ(ZlibFailureDescription(Z_MEM_ERROR), "zlib: Insufficient memory");
    EXPECT_EQ(ZlibFailureDescription(Z_BUF_ERROR), "zlib: Buffer error");
    EXPECT_EQ(ZlibFailureDescription(Z_VERSION_ERROR), "zlib: Incompatible version");
}

class ZlibReplacementTest : public ::testing::Test {
  protected:
    void Source(Bytes bytes) { testing::SetSource(host_, run_.FileBuffer, std::move(bytes)); }
    Bytes Patched() const { return testing::Contents(run_.FileBuffer); }

    testing::MemoryHost host_;
    RunState run_{host_};
    std::string failure_;
};

TEST_F(ZlibReplacementTest, ShorterNewStreamIsPaddedWithZeros) {
    const Bytes oldText = RandomBytes(500, 5);
    ZlibReplacement streams;
    ASSERT_TRUE(PrepareZlibReplacement(oldText, "short", "p", "00", &streams, &failure_));
    const Bytes newStream = CompressWithZlib("short");
    EXPECT_EQ(streams.oldStream, CompressWithZlib(oldText));
    ASSERT_EQ(streams.newStream.size(), streams.oldStream.size());
    EXPECT_EQ(streams.newStream.substr(0, newStream.size()), newStream);
    EXPECT_EQ(streams.newStream.substr(newStream.size()),
              Bytes(streams.oldStream.size() - newStream.size(), '\0'));
    EXPECT_EQ(failure_, "");
}

TEST_F(ZlibReplacementTest, EqualTextsGiveEqualStreams) {
    ZlibReplacement streams;
    ASSERT_TRUE(PrepareZlibReplacement("same text", "same text", "p", "00", &streams, &failure_));
    EXPECT_EQ(streams.oldStream, streams.newStream);
}

TEST_F(ZlibReplacementTest, LongerNewStreamFailsWithCompressedLengths) {
    // The empty text compresses to 8 bytes, "a" to 9.
    ZlibReplacement streams;
    EXPECT_FALSE(PrepareZlibReplacement("", "a", "my patch", "1A2B", &streams, &failure_));
    EXPECT_EQ(failure_,
              "size of data differs (olddata=8byte, newdata=9byte) in my patch "
              "(position=1A2B)");

    // A long text that compresses well against a short one that does not.
    const Bytes oldText(10000, 'x');
    const Bytes newText = RandomBytes(100, 6);
    EXPECT_FALSE(PrepareZlibReplacement(oldText, newText, "q", "05", &streams, &failure_));
    EXPECT_EQ(failure_,
              "size of data differs (olddata=" + std::to_string(CompressWithZlib(oldText).size()) +
                  "byte, newdata=" + std::to_string(CompressWithZlib(newText).size()) +
                  "byte) in q (position=05)");
}

TEST_F(ZlibReplacementTest, PatchedStreamInflatesToTheNewText) {
    const Bytes oldText = WordText(200000, 7);
    const Bytes newText = WordText(150000, 8);
    const Bytes prefix = "HEADER\x01\x02";
    const Bytes suffix = "\xFFtrailer";
    const Bytes original = prefix + Compress2(oldText) + suffix;
    Source(original);

    ZlibReplacement streams;
    ASSERT_TRUE(PrepareZlibReplacement(oldText, newText, "p", "08", &streams, &failure_));
    run_.PatchData.position = static_cast<std::int32_t>(prefix.size());
    ASSERT_TRUE(CheckedWrite(run_, streams.oldStream, streams.newStream));

    const Bytes patched = Patched();
    ASSERT_EQ(patched.size(), original.size());
    EXPECT_EQ(patched.substr(0, prefix.size()), prefix);
    EXPECT_EQ(patched.substr(patched.size() - suffix.size()), suffix);
    std::size_t consumed = 0;
    EXPECT_EQ(Inflate(std::string_view(patched).substr(prefix.size()), &consumed), newText);
    // The reader stops at the end of the new stream, ahead of the padding.
    EXPECT_EQ(consumed, CompressWithZlib(newText).size());
    EXPECT_LT(consumed, streams.oldStream.size());
}

TEST_F(ZlibReplacementTest, OnlyTheDefaultLevelStreamOfTheWholeTextMatches) {
    const Bytes text = "a text held in a stream that was made at the best level";
    ZlibReplacement streams;
    ASSERT_TRUE(PrepareZlibReplacement(text, "new", "p", "00", &streams, &failure_));
    run_.PatchData.position = 0;

    // Made at level 9: header 78 DA.
    const Bytes best = Compress2(text, Z_BEST_COMPRESSION);
    ASSERT_EQ(best.substr(0, 2), "\x78\xDA");
    Source(best + Bytes(16, '\0'));
    EXPECT_FALSE(CheckedWrite(run_, streams.oldStream, streams.newStream));
    EXPECT_EQ(Patched(), best + Bytes(16, '\0'));

    // Only a part of the content as old text.
    const Bytes before = Compress2(text + " and more");
    Source(before);
    EXPECT_FALSE(CheckedWrite(run_, streams.oldStream, streams.newStream));
    EXPECT_EQ(Patched(), before);

    // A position inside the stream.
    Source("#" + Compress2(text));
    run_.PatchData.position = 0;
    EXPECT_FALSE(CheckedWrite(run_, streams.oldStream, streams.newStream));
    run_.PatchData.position = 1;
    EXPECT_TRUE(CheckedWrite(run_, streams.oldStream, streams.newStream));
}

TEST_F(ZlibReplacementTest, DonotcheckIsCompressedLikeAnyText) {
    ZlibReplacement streams;
    ASSERT_TRUE(PrepareZlibReplacement("DONOTCHECK", "x", "p", "00", &streams, &failure_));
    EXPECT_EQ(streams.oldStream, CompressWithZlib("DONOTCHECK"));
    Source(Bytes(64, 'z'));
    run_.PatchData.position = 0;
    EXPECT_FALSE(CheckedWrite(run_, streams.oldStream, streams.newStream));
    EXPECT_EQ(Patched(), Bytes(64, 'z'));
}

}  // namespace
}  // namespace hexmend
