// SPDX-License-Identifier: GPL-3.0-or-later
#include "OrbUtils/rtp/MpegAudioFrame.h"
#include "OrbUtils/rtp/RTPAudioPacket.h"
#include "OrbUtils/rtp/RTPFileAudioReader.h"
#include "RtpTestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <sys/resource.h>
#include <sys/stat.h>
#include <chrono>
#include <thread>

namespace {

using Packet = std::unique_ptr<RTPAudioPacket>;

// What the reader told its observer: "+0 path" opened, "-1 path" failed.
class RecordingObserver : public RTPFileAudioReaderObserver
{
public:
    void onFileOpened(RTPFileAudioReader *, int32_t index, const QString &path) override { add('+', index, path); }
    void onFileOpenFailed(RTPFileAudioReader *, int32_t index, const QString &path) override { add('-', index, path); }
    size_t count()
    {
        std::lock_guard<std::mutex> guard(mutex);
        return events.size();
    }
    QStringList events;

private:
    void add(char what, int index, const QString &path)
    {
        std::lock_guard<std::mutex> guard(mutex);
        events << QStringLiteral("%1%2 %3").arg(what).arg(index).arg(path);
    }
    std::mutex mutex;
};

// A whole MPEG frame behind a zero RFC 2250 header, lasting what its header says.
bool isWholeFrame(const RTPAudioPacket &packet)
{
    MpegAudioHeader h;
    const uint8_t *p = packet.data();
    return packet.size() > 4 && (p[0] | p[1] | p[2] | p[3]) == 0 && parseMpegAudioHeader(p + 4, size_t(packet.size() - 4), &h)
        && h.frameLength == packet.size() - 4 && packet.duration == mpegAudioFrameMs(h) && packet.payloadType == 14;
}

class FileReaderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(oneSecond.isEmpty() || halfSecond.isEmpty()) << "ffmpeg with libmp3lame is needed to make test audio";
        reader.setObserver(&observer);
    }
    // Plays until the observer heard of `events` files; the media time read.
    double play(size_t events)
    {
        double media = 0;
        while (observer.count() < events) {
            Packet packet(reader.readPacket());
            if (!packet)
                return media;
            EXPECT_TRUE(isWholeFrame(*packet));
            media += observer.count() < events ? packet->duration : 0.0;
        }
        return media;
    }

    const QString oneSecond = testAudio().oneSecond, halfSecond = testAudio().halfSecond;
    RecordingObserver observer;
    RTPFileAudioReader reader;
};

} // namespace

// A second file that cannot be played (missing, or not audio) stops the flow
// and says so once; opening a good file again resumes it.
TEST_F(FileReaderTest, FlowStopsAtABrokenFileAndTheObserverIsTold)
{
    for (const QString &second : {testAudio().missing, testAudio().notAudio}) {
        observer.events.clear();
        reader.setFiles({halfSecond, second});
        ASSERT_TRUE(reader.start());
        EXPECT_NEAR(play(3), 500.0, 60.0);
        EXPECT_EQ(Packet(reader.readPacket()), nullptr);
        EXPECT_EQ(observer.events, QStringList({"+0 " + halfSecond, "-1 " + second}));
        EXPECT_TRUE(reader.reset());
        EXPECT_NE(Packet(reader.readPacket()), nullptr);
        reader.stop();
    }
}

// Past the probe, reads go on a bounded step at a time to the file's end.
TEST_F(FileReaderTest, ALongFilePlaysToItsEnd)
{
    QFile one(oneSecond), many(QFileInfo(oneSecond).dir().filePath(QStringLiteral("many.mp3")));
    ASSERT_TRUE(one.open(QIODevice::ReadOnly) && many.open(QIODevice::WriteOnly));
    const QByteArray bytes = one.readAll();
    int copies = 0;
    for (; many.size() < RTPFileAudioReader::ProbeBytes + 2 * RTPFileAudioReader::ReadAheadMax; ++copies)
        ASSERT_EQ(many.write(bytes), bytes.size());
    many.close();
    reader.setFiles({many.fileName()});
    ASSERT_TRUE(reader.start());
    EXPECT_GT(play(2), copies * 990.0);
    reader.stop();
}

// The operator's double click reopens the input on the interface thread while
// the send thread reads it; under the sanitizers an unguarded overlap shows
// up as a use after free.
TEST_F(FileReaderTest, OpeningWhileReadingOnAnotherThreadIsSafe)
{
    reader.setFiles({halfSecond, oneSecond});
    ASSERT_TRUE(reader.start());
    std::atomic<bool> done{false};
    std::atomic<int> read{0};
    std::thread sender([&] {
        while (!done.load())
            if (Packet packet{reader.readPacket()})
                read += isWholeFrame(*packet) ? 1 : 0;
    });
    for (int i = 0; i < 200; ++i)
        EXPECT_TRUE(reader.openFile(i % 2));
    // On a loaded machine the opens may all come before the reader's first
    // turn: give it one, so that "read" says something about the files.
    for (int waited = 0; read.load() == 0 && waited < 5000; waited += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    done = true;
    sender.join();
    reader.stop();
    EXPECT_GT(read.load(), 0);
}

namespace {

struct FileCase {
    const char *name;
    QStringList args; // ffmpeg output options for two seconds of tone
    double frameMs;   // 0: the file must be refused
    bool freeFormat = false; // every header's bit-rate index then set to 0
};
void PrintTo(const FileCase &c, std::ostream *os) { *os << c.name; }

QStringList mp3(const char *rate, const QStringList &more = {})
{
    return QStringList{"-ar", QLatin1String(rate), "-c:a", "libmp3lame"} + more;
}

// Free format as encoders that use it write it: the same frames, no bit rate
// in their headers.
FileCase freeFormat(const char *name, const char *rate, const char *bitRate)
{
    return {name, mp3(rate, {"-b:a", QLatin1String(bitRate), "-write_xing", "0", "-id3v2_version", "0"}), 0, true};
}

bool clearBitRates(const QString &path)
{
    QFile file(path);
    QByteArray bytes = file.open(QIODevice::ReadWrite) ? file.readAll() : QByteArray();
    MpegAudioHeader h;
    for (int at = 0; parseMpegAudioHeader(reinterpret_cast<const uint8_t *>(bytes.constData()) + at, size_t(bytes.size() - at), &h);
         at += h.frameLength)
        bytes[at + 2] = char(bytes[at + 2] & 0x0F);
    return file.seek(0) && file.write(bytes) == bytes.size();
}

class FileInputTest : public ::testing::TestWithParam<FileCase> {};

} // namespace

// Files as installers have them. Accepted ones hand out whole frames, each
// lasting what its header says, and the whole file lasts its length; refused
// ones are refused at open, like a missing file.
TEST_P(FileInputTest, AcceptsMpegAudioAndRefusesTheRest)
{
    const FileCase c = GetParam();
    QTemporaryDir dir;
    const QString path = makeMedia(dir, QStringLiteral("input.mp3"), QStringLiteral("sine=duration=2"), c.args);
    ASSERT_FALSE(path.isEmpty()) << "ffmpeg with libmp3lame is needed to make test audio";
    ASSERT_TRUE(!c.freeFormat || clearBitRates(path));
    QString reason;
    EXPECT_EQ(RTPFileAudioReader::checkFile(path, &reason), c.frameMs > 0) << reason.toStdString();
    EXPECT_EQ(reason.contains(QLatin1String("free-format")), c.freeFormat) << reason.toStdString();
    RecordingObserver observer;
    RTPFileAudioReader reader;
    reader.setFiles({path});
    reader.setObserver(&observer);
    ASSERT_EQ(reader.start(), c.frameMs > 0);
    if (c.frameMs == 0) {
        EXPECT_EQ(observer.events, QStringList{"-0 " + path});
        return;
    }
    double media = 0;
    while (observer.count() < 2) {
        Packet packet(reader.readPacket());
        ASSERT_TRUE(packet && isWholeFrame(*packet));
        ASSERT_DOUBLE_EQ(packet->duration, c.frameMs);
        media += observer.count() < 2 ? packet->duration : 0.0;
    }
    reader.stop();
    // Two seconds of tone; the encoder adds up to two frames of padding.
    EXPECT_GE(media, 2000.0 - c.frameMs);
    EXPECT_LE(media, 2000.0 + 3 * c.frameMs);
    EXPECT_NEAR(RTPFileAudioReader::fileDuration(path), 2.0, 3 * c.frameMs / 1000) << "as the list shows it";
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, FileInputTest,
    ::testing::Values(FileCase{"Rate32kAt320kFramesOverTheLimit", mp3("32000", {"-b:a", "320k"}), 36.0},
                      FileCase{"VariableBitRate", mp3("44100", {"-q:a", "4"}), 1152000.0 / 44100},
                      FileCase{"Id3v2AndId3v1Tags",
                               mp3("44100", {"-id3v2_version", "3", "-write_id3v1", "1", "-metadata", "title=Hall A test"}),
                               1152000.0 / 44100},
                      FileCase{"WaveRenamedMp3", {"-f", "wav"}, 0},
                      FileCase{"AacRenamedMp3", {"-c:a", "aac", "-f", "adts"}, 0},
                      // Frames of 960, 1044 or 1045, 1440 and 1152 bytes, each of which
                      // the demuxer opens: a header search in them finds garbage.
                      freeFormat("FreeFormat48kAt320k", "48000", "320k"),
                      freeFormat("FreeFormat44kAt320k", "44100", "320k"),
                      freeFormat("FreeFormat32kAt320k", "32000", "320k"),
                      freeFormat("FreeFormat32kAt256k", "32000", "256k")),
    [](const ::testing::TestParamInfo<FileCase> &info) { return info.param.name; });

namespace {
long peakKiB()
{
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}
} // namespace

// A pipe without a writer and four sparse gigabytes are each refused within
// seconds, without holding the reader for good or reading gigabytes in.
TEST(FileInput, HostileFilesAreRefusedQuicklyWithBoundedMemory)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("fifo.mp3")), sparse = dir.filePath(QStringLiteral("big.mp3"));
    QFile big(sparse);
    ASSERT_TRUE(mkfifo(QFile::encodeName(fifo), 0600) == 0 && big.open(QIODevice::WriteOnly) && big.resize(qint64(4) << 30));
    for (const auto &c : {std::make_pair(fifo, "not a regular file"), std::make_pair(sparse, "first 4 MiB")}) {
        const long before = peakKiB();
        const int64_t start = steadyUs();
        QString reason;
        EXPECT_FALSE(RTPFileAudioReader::checkFile(c.first, &reason));
        EXPECT_LT(steadyUs() - start, 5000000);
        EXPECT_LT(peakKiB() - before, 256 * 1024); // a sanitizer keeps what is freed a while
        EXPECT_TRUE(reason.contains(QLatin1String(c.second))) << reason.toStdString();
    }
}
