// SPDX-License-Identifier: GPL-3.0-or-later
#include "OrbUtils/rtp/MpegAudioFrame.h"
#include "OrbUtils/rtp/RTPAudioPacket.h"
#include "OrbUtils/rtp/RTPFileAudioReader.h"
#include "RtpTestSupport.h"

#include <QFile>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

namespace {

struct Event
{
    bool opened;
    int index;
    QString path;
    bool operator==(const Event &o) const { return opened == o.opened && index == o.index && path == o.path; }
};

void PrintTo(const Event &e, std::ostream *os)
{
    *os << (e.opened ? "opened " : "failed ") << e.index << " " << e.path.toStdString();
}

class RecordingObserver : public RTPFileAudioReaderObserver
{
public:
    void onFileOpened(RTPFileAudioReader *, int32_t index, const QString &path) override
    {
        std::lock_guard<std::mutex> guard(mutex);
        events.push_back({true, index, path});
    }
    void onFileOpenFailed(RTPFileAudioReader *, int32_t index, const QString &path) override
    {
        std::lock_guard<std::mutex> guard(mutex);
        events.push_back({false, index, path});
    }
    std::mutex mutex;
    std::vector<Event> events;
};

class FileReaderTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        dir = new QTemporaryDir();
        oneSecond = makeMp3(*dir, QStringLiteral("one.mp3"), 1.0);
        halfSecond = makeMp3(*dir, QStringLiteral("half.mp3"), 0.5);
        notAudio = dir->filePath(QStringLiteral("notes.mp3"));
        QFile text(notAudio);
        if (text.open(QIODevice::WriteOnly))
            text.write("these are not MPEG audio frames\n");
    }
    static void TearDownTestSuite()
    {
        delete dir;
        dir = nullptr;
    }
    void SetUp() override
    {
        ASSERT_FALSE(oneSecond.isEmpty()) << "ffmpeg with libmp3lame is needed to make test audio";
        ASSERT_FALSE(halfSecond.isEmpty());
    }

    // Reads until count packets came out or the reader gives none.
    static std::vector<std::unique_ptr<RTPAudioPacket>> readPackets(RTPFileAudioReader &reader, int count)
    {
        std::vector<std::unique_ptr<RTPAudioPacket>> packets;
        for (int i = 0; i < count; ++i) {
            RTPAudioPacket *packet = reader.readPacket();
            if (packet == nullptr)
                break;
            packets.emplace_back(packet);
        }
        return packets;
    }

    static QTemporaryDir *dir;
    static QString oneSecond, halfSecond, notAudio;
};

QTemporaryDir *FileReaderTest::dir = nullptr;
QString FileReaderTest::oneSecond;
QString FileReaderTest::halfSecond;
QString FileReaderTest::notAudio;

TEST_F(FileReaderTest, PlayListMovesOnAndWrapsToTheFirstFile)
{
    RecordingObserver observer;
    RTPFileAudioReader reader;
    reader.setFiles({halfSecond, oneSecond});
    reader.setObserver(&observer);
    ASSERT_TRUE(reader.start());
    double media = 0;
    while (observer.events.size() < 3) {
        std::unique_ptr<RTPAudioPacket> packet(reader.readPacket());
        ASSERT_NE(packet, nullptr);
        media += packet->duration;
        ASSERT_LT(media, 5000.0);
    }
    reader.stop();
    EXPECT_EQ(observer.events, (std::vector<Event>{{true, 0, halfSecond}, {true, 1, oneSecond}, {true, 0, halfSecond}}));
    // Both files were played out in full before the wrap.
    EXPECT_NEAR(media, 1500.0, 120.0);
}

struct BrokenCase
{
    const char *name;
    bool missing; // else: exists but is not audio
};

void PrintTo(const BrokenCase &c, std::ostream *os) { *os << c.name; }

class FileReaderBrokenSecondTest : public FileReaderTest, public ::testing::WithParamInterface<BrokenCase> {};

// A second file that cannot be played stops the flow and says so once.
TEST_P(FileReaderBrokenSecondTest, FlowStopsAtTheBrokenFileAndTheObserverIsTold)
{
    const QString second = GetParam().missing ? dir->filePath(QStringLiteral("gone.mp3")) : notAudio;
    RecordingObserver observer;
    RTPFileAudioReader reader;
    reader.setFiles({halfSecond, second});
    reader.setObserver(&observer);
    ASSERT_TRUE(reader.start());
    const auto packets = readPackets(reader, 1000);
    EXPECT_GT(packets.size(), 15u);
    EXPECT_LT(packets.size(), 30u);
    EXPECT_EQ(reader.readPacket(), nullptr);
    EXPECT_EQ(observer.events, (std::vector<Event>{{true, 0, halfSecond}, {false, 1, second}}));
    // Opening a good file again resumes the flow.
    EXPECT_TRUE(reader.reset());
    std::unique_ptr<RTPAudioPacket> again(reader.readPacket());
    EXPECT_NE(again, nullptr);
    reader.stop();
}

INSTANTIATE_TEST_SUITE_P(Broken, FileReaderBrokenSecondTest,
                         ::testing::Values(BrokenCase{"Missing", true}, BrokenCase{"NotAudio", false}),
                         [](const ::testing::TestParamInfo<BrokenCase> &info) { return info.param.name; });

// The operator's double click reopens the input on the interface thread while
// the send thread reads it; under the sanitizers an unguarded overlap shows
// up as a use after free.
TEST_F(FileReaderTest, OpeningWhileReadingOnAnotherThreadIsSafe)
{
    RTPFileAudioReader reader;
    reader.setFiles({halfSecond, oneSecond});
    ASSERT_TRUE(reader.start());
    std::atomic<bool> done{false};
    std::atomic<int> read{0};
    std::thread sender([&] {
        while (!done.load()) {
            std::unique_ptr<RTPAudioPacket> packet(reader.readPacket());
            if (packet) {
                MpegAudioHeader h;
                if (parseMpegAudioHeader(packet->data() + 4, size_t(packet->size() - 4), &h)
                    && h.frameLength == packet->size() - 4)
                    ++read;
            }
        }
    });
    for (int i = 0; i < 200; ++i)
        EXPECT_TRUE(reader.openFile(i % 2));
    done.store(true);
    sender.join();
    reader.stop();
    EXPECT_GT(read.load(), 0);
}

// Makes a free-format MP3: a 48 kHz 128 kbit/s stream (every frame 384
// bytes, never padded) whose headers then say "free" instead of 128 kbit/s.
QString makeFreeFormat(const QTemporaryDir &dir)
{
    const QString path = makeMedia(dir, QStringLiteral("free.mp3"), QStringLiteral("sine=sample_rate=48000:duration=2"),
                                   {QStringLiteral("-c:a"), QStringLiteral("libmp3lame"), QStringLiteral("-b:a"),
                                    QStringLiteral("128k"), QStringLiteral("-write_xing"), QStringLiteral("0"),
                                    QStringLiteral("-id3v2_version"), QStringLiteral("0")});
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadWrite))
        return QString();
    QByteArray bytes = file.readAll();
    auto *b = reinterpret_cast<uint8_t *>(bytes.data());
    MpegAudioHeader h;
    for (size_t at = 0; parseMpegAudioHeader(b + at, size_t(bytes.size()) - at, &h); at += size_t(h.frameLength))
        b[at + 2] &= 0x0F;
    file.seek(0);
    file.write(bytes);
    return path;
}

struct FileCase
{
    const char *name;
    const char *source;  // lavfi input
    QStringList args;    // ffmpeg output options
    double frameMs;      // 0: the file must be refused
};

void PrintTo(const FileCase &c, std::ostream *os) { *os << c.name; }

QStringList mp3(const char *rate, const QStringList &more = {})
{
    return QStringList{QStringLiteral("-ar"), QLatin1String(rate), QStringLiteral("-c:a"), QStringLiteral("libmp3lame")}
           + more;
}

class FileInputTest : public ::testing::TestWithParam<FileCase> {};

// Files as installers have them. Accepted ones hand out whole frames, each
// lasting what its header says, and the whole file lasts its length; refused
// ones are refused at open, like a missing file.
TEST_P(FileInputTest, AcceptsMpegAudioAndRefusesTheRest)
{
    const FileCase c = GetParam();
    QTemporaryDir dir;
    const QString path = c.args.isEmpty() ? makeFreeFormat(dir)
                                          : makeMedia(dir, QStringLiteral("input.mp3"), QLatin1String(c.source), c.args);
    ASSERT_FALSE(path.isEmpty()) << "ffmpeg with libmp3lame is needed to make test audio";
    QString reason;
    EXPECT_EQ(RTPFileAudioReader::checkFile(path, &reason), c.frameMs > 0) << reason.toStdString();
    RecordingObserver observer;
    RTPFileAudioReader reader;
    reader.setFiles({path});
    reader.setObserver(&observer);
    ASSERT_EQ(reader.start(), c.frameMs > 0);
    if (c.frameMs == 0) {
        EXPECT_EQ(observer.events, (std::vector<Event>{{false, 0, path}}));
        return;
    }
    double media = 0;
    while (observer.events.size() < 2) {
        std::unique_ptr<RTPAudioPacket> packet(reader.readPacket());
        ASSERT_NE(packet, nullptr);
        const uint8_t *p = packet->data();
        ASSERT_EQ(p[0] | p[1] | p[2] | p[3], 0);
        MpegAudioHeader h;
        ASSERT_TRUE(parseMpegAudioHeader(p + 4, size_t(packet->size() - 4), &h));
        ASSERT_EQ(h.frameLength, packet->size() - 4);
        ASSERT_DOUBLE_EQ(packet->duration, c.frameMs);
        ASSERT_EQ(packet->payloadType, 14);
        if (observer.events.size() < 2)
            media += packet->duration;
    }
    reader.stop();
    // Two seconds of tone; the encoder adds up to two frames of padding.
    EXPECT_GE(media, 2000.0 - c.frameMs);
    EXPECT_LE(media, 2000.0 + 3 * c.frameMs);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, FileInputTest,
    ::testing::Values(
        FileCase{"Rate48k", "sine=duration=2", mp3("48000"), 24.0},
        FileCase{"Rate32kAt320kFramesOverTheLimit", "sine=duration=2", mp3("32000", {QStringLiteral("-b:a"), QStringLiteral("320k")}), 36.0},
        FileCase{"Rate22kMpeg2", "sine=duration=2", mp3("22050"), 576000.0 / 22050},
        FileCase{"Rate8kMpeg25", "sine=duration=2", mp3("8000"), 72.0},
        FileCase{"VariableBitRate", "sine=duration=2", mp3("44100", {QStringLiteral("-q:a"), QStringLiteral("4")}), 1152000.0 / 44100},
        FileCase{"Id3v2AndId3v1Tags", "sine=duration=2",
                 mp3("44100", {QStringLiteral("-id3v2_version"), QStringLiteral("3"), QStringLiteral("-write_id3v1"),
                             QStringLiteral("1"), QStringLiteral("-metadata"), QStringLiteral("title=Hall A test")}),
                 1152000.0 / 44100},
        FileCase{"FreeFormat", "", {}, 0},
        FileCase{"WaveRenamedMp3", "sine=duration=2", {QStringLiteral("-f"), QStringLiteral("wav")}, 0},
        FileCase{"AacRenamedMp3", "sine=duration=2", {QStringLiteral("-c:a"), QStringLiteral("aac"), QStringLiteral("-f"), QStringLiteral("adts")}, 0}),
    [](const ::testing::TestParamInfo<FileCase> &info) { return info.param.name; });

} // namespace
