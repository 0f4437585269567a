// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "OrbUtils/OrbThread.h"
#include "MpegAudioFrame.h"
#include "RTPAudioReader.h"

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
// their length go out (see MpegAudioFrame.h), each lasting what its header
// says; whatever else the demuxer hands over is skipped. A file that cannot be
// opened, is not MPEG audio or holds no such frame counts as failed: it stops
// the flow (readPacket returns nullptr) until something opens a file again.
//
// Threading contract: start, stop and an operator's openFile run on the
// owner's thread; readPacket (and the openFile it makes at the end of a file)
// on the RTP send thread. One lock makes opening, closing and reading
// mutually exclusive. stop() must come before destruction.
class RTPFileAudioReader : public RTPAudioReader
{
public:
    enum { MpegAudioPayloadType = 14 };

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
    // The next whole frame of the open file, consumed; false at its end.
    bool nextFrameLocked(const uint8_t **frame, MpegAudioHeader *header);
    void closeLocked();

    int32_t current = 0;
    QStringList fileList;
    AVPacket *packet = nullptr;
    size_t packetOffset = 0; // bytes of packet already handed out or skipped
    OrbThreadLocker lock;
    AVFormatContext *input = nullptr;
    AVStream *audioStream = nullptr;
    RTPFileAudioReaderObserver *observer = nullptr;
};
