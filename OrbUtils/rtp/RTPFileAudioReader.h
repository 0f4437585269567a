// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "OrbUtils/OrbThread.h"
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

// Play-list source: hands out the frames of each file's first audio stream as
// stored (no decoding), moving to the next file at the end of one and back to
// the first after the last, so a running play list never ends by itself. A
// file that cannot be opened stops the flow (readPacket returns nullptr) until
// something opens a file again.
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

private:
    bool openFileLocked(int index);
    void closeLocked();

    int32_t current = 0;
    QStringList fileList;
    AVPacket *packet = nullptr;
    OrbThreadLocker lock;
    AVFormatContext *input = nullptr;
    AVStream *audioStream = nullptr;
    RTPFileAudioReaderObserver *observer = nullptr;
};
