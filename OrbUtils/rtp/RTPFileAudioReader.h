// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "OrbUtils/OrbThread.h"
#include "MpegAudioFrame.h"
#include "RTPAudioReader.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

class RTPFileAudioReader;
struct AVFormatContext;
struct AVPacket;
struct AVStream;

// Told which play-list file is playing and which one failed to open. Called on
// whichever thread opened the file (the owner's for start/openFile, the RTP
// send thread at the end of a file) while the reader's lock is held: an
// observer must not call back into the reader; a window turns the calls into
// queued signals.
class RTPFileAudioReaderObserver
{
public:
    virtual void onFileOpened(RTPFileAudioReader *, int32_t /*index*/, const QString & /*path*/) {}
    virtual void onFileOpenFailed(RTPFileAudioReader *, int32_t /*index*/, const QString & /*path*/) {}

protected:
    ~RTPFileAudioReaderObserver() = default;
};

// Play-list source: hands out the frames of each file's first MPEG audio
// stream as stored (no decoding), one whole frame per packet, moving to the
// next file at the end of one and back to the first after the last, so a
// running play list never ends by itself. Only frames whose header gives
// their length and that the next headers confirm go out (see
// MpegAudioFrame.h), each lasting what its header says; whatever else the
// demuxer hands over is skipped. A file that cannot be opened, is not a
// regular file (a pipe would block its reader for good, a device never end),
// is not MPEG audio, is free format or holds no such frame within its first
// ProbeBytes counts as failed: it stops the flow (readPacket returns nullptr)
// until something opens a file again. No read goes more than ReadAheadMax
// bytes past where it began, so a file of zeros or garbage, however large,
// costs little time and memory.

//
// Threading contract: start, stop and an operator's openFile run on the
// owner's thread; readPacket (and the openFile it makes at the end of a file)
// on the RTP send thread. One lock makes opening, closing and reading
// mutually exclusive. stop() must come before destruction.
class RTPFileAudioReader : public RTPAudioReader
{
public:
    enum { MpegAudioPayloadType = 14, ProbeBytes = 4 << 20, ReadAheadMax = 1 << 20 };

    RTPFileAudioReader() = default;
    ~RTPFileAudioReader() override = default;

    void setFiles(const QStringList &files) { fileList = files; }
    void setObserver(RTPFileAudioReaderObserver *observer) { this->observer = observer; }

    bool start() override;
    void stop() override;
    RTPAudioPacket *readPacket() override;
    bool reset() override;
    int32_t payloadType() override { return MpegAudioPayloadType; }

    // Closes the open file and opens the one at index.
    bool openFile(int index);
    int currentIndex() const { return current; }

    // Opens path as the reader would and looks for its first playable frame.
    // False with a reason fit for an installer when it would be refused.
    static bool checkFile(const QString &path, QString *reason);
    // Play time in seconds as the container states it (0 when unknown or not
    // audio). Blocks on file I/O: keep it off the interface thread.
    static double fileDuration(const QString &path);

private:
    bool openFileLocked(int index);
    bool openInputLocked(const QString &path, QString *reason);
    // The next whole frame of the open file, consumed; false at its end. The
    // frame lies in window until the next call.
    bool nextFrameLocked(const uint8_t **frame, MpegAudioHeader *header);
    // Appends the next packet of the audio stream to window; false at the
    // end of the file (or a read error, or the read limit).
    bool readMoreLocked();
    void closeLocked();
    static int interruptRead(void *reader);

    int32_t current = 0;
    QStringList fileList;
    AVPacket *packet = nullptr;
    // The audio stream's bytes as read, of which the first `consumed` have
    // been handed out or skipped.
    QByteArray window;
    int consumed = 0;
    bool streamEnded = false;
    bool synced = false;     // the last frame handed out ended at `consumed`
    int64_t readLimit = 0;   // the file position no read may go past
    OrbThreadLocker lock;
    AVFormatContext *input = nullptr;
    AVStream *audioStream = nullptr;
    RTPFileAudioReaderObserver *observer = nullptr;
};
