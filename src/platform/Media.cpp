#include "platform/Media.h"

#include <QFile>

#include <cmath>
#include <libyuv.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

namespace Media {

namespace {

QString avText(int code)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(code, buf, sizeof buf);
    return QString::fromUtf8(buf);
}

// The libraries report to stderr; only real errors are worth a line there.
void quietLibraries()
{
    static const bool once = [] {
        av_log_set_level(AV_LOG_ERROR);
        return true;
    }();
    (void)once;
}

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

} // namespace

struct VideoWriter::Impl {
    QString path;
    VideoSettings settings;
    AVFormatContext *fmt = nullptr;
    AVCodecContext *enc = nullptr;
    AVStream *stream = nullptr;
    AVFrame *frame = nullptr;
    AVPacket *packet = nullptr;
    int64_t lastPts = INT64_MIN;
    long long count = 0;
    bool open = false; // header written, trailer not yet

    ~Impl() { release(); }

    void release()
    {
        if (fmt && fmt->pb)
            avio_closep(&fmt->pb);
        avformat_free_context(fmt);
        fmt = nullptr;
        avcodec_free_context(&enc);
        av_frame_free(&frame);
        av_packet_free(&packet);
        open = false;
    }

    // Moves every packet the encoder has ready into the file.
    bool drain(QString *error)
    {
        for (;;) {
            int rc = avcodec_receive_packet(enc, packet);
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
                return true;
            if (rc < 0) {
                setError(error, avText(rc));
                return false;
            }
            av_packet_rescale_ts(packet, enc->time_base, stream->time_base);
            packet->stream_index = stream->index;
            rc = av_interleaved_write_frame(fmt, packet);
            av_packet_unref(packet);
            if (rc < 0) {
                setError(error, avText(rc));
                return false;
            }
        }
    }
};

VideoWriter::VideoWriter() : d(std::make_unique<Impl>()) {}
VideoWriter::~VideoWriter() = default;

std::unique_ptr<VideoWriter> VideoWriter::open(const QString &path, const VideoSettings &settings,
                                               QString *error, OpenError *kind)
{
    auto fail = [&](OpenError k, const QString &text) -> std::unique_ptr<VideoWriter> {
        setError(error, text);
        if (kind)
            *kind = k;
        return nullptr;
    };
    quietLibraries();
    std::unique_ptr<VideoWriter> w(new VideoWriter);
    Impl &d = *w->d;
    d.path = path;
    d.settings = settings;
    d.settings.width = settings.width / 2 * 2;
    d.settings.height = settings.height / 2 * 2;
    const QByteArray file = QFile::encodeName(path);

    if (d.settings.width < 2 || d.settings.height < 2 || settings.timeScale <= 0)
        return fail(OpenError::Format, QStringLiteral("the frame size is not usable"));
    if (avformat_alloc_output_context2(&d.fmt, nullptr, "mp4", file.constData()) < 0 || !d.fmt)
        return fail(OpenError::Format, QStringLiteral("no MPEG-4 container"));

    const AVCodec *codec = avcodec_find_encoder_by_name("libx264");
    if (!codec)
        codec = avcodec_find_encoder(AV_CODEC_ID_H264);
    if (!codec)
        return fail(OpenError::Format, QStringLiteral("no H.264 encoder"));
    d.enc = avcodec_alloc_context3(codec);
    d.frame = av_frame_alloc();
    d.packet = av_packet_alloc();
    if (!d.enc || !d.frame || !d.packet)
        return fail(OpenError::Format, QStringLiteral("out of memory"));
    d.enc->width = d.settings.width;
    d.enc->height = d.settings.height;
    d.enc->pix_fmt = AV_PIX_FMT_YUV420P;
    d.enc->time_base = AVRational{1, settings.timeScale};
    // Only the encoder's budget planning sees this rate; every frame keeps its own time.
    d.enc->framerate = av_d2q(settings.plannedFps > 0 ? settings.plannedFps : 10, 1000);
    d.enc->bit_rate = settings.bitRate;
    d.enc->gop_size = std::max(1, settings.keyInterval);
    d.enc->max_b_frames = 0;
    d.enc->thread_count = 1;
    if (d.fmt->oformat->flags & AVFMT_GLOBALHEADER)
        d.enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary *encOpts = nullptr;
    if (QByteArray(codec->name) == "libx264") {
        // Screen content changes little between frames; the fastest preset
        // keeps encoding a few milliseconds a frame on one thread.
        av_dict_set(&encOpts, "preset", "ultrafast", 0);
        av_dict_set(&encOpts, "tune", "zerolatency", 0);
    }
    int rc = avcodec_open2(d.enc, codec, &encOpts);
    av_dict_free(&encOpts);
    if (rc < 0)
        return fail(OpenError::Format, avText(rc));

    d.stream = avformat_new_stream(d.fmt, nullptr);
    if (!d.stream || avcodec_parameters_from_context(d.stream->codecpar, d.enc) < 0)
        return fail(OpenError::Format, QStringLiteral("the stream could not be added"));
    d.stream->time_base = d.enc->time_base;

    d.frame->format = AV_PIX_FMT_YUV420P;
    d.frame->width = d.settings.width;
    d.frame->height = d.settings.height;
    if (av_frame_get_buffer(d.frame, 0) < 0)
        return fail(OpenError::Format, QStringLiteral("out of memory"));

    rc = avio_open(&d.fmt->pb, file.constData(), AVIO_FLAG_WRITE);
    if (rc < 0)
        return fail(OpenError::File, avText(rc));

    AVDictionary *muxOpts = nullptr;
    // Keep the track's clock at the asked scale (the container would otherwise raise it).
    av_dict_set_int(&muxOpts, "video_track_timescale", settings.timeScale, 0);
    rc = avformat_write_header(d.fmt, &muxOpts);
    av_dict_free(&muxOpts);
    if (rc < 0) {
        d.release();
        QFile::remove(path);
        return fail(OpenError::Start, avText(rc));
    }
    d.open = true;
    return w;
}

int VideoWriter::width() const { return d->settings.width; }
int VideoWriter::height() const { return d->settings.height; }
long long VideoWriter::frames() const { return d->count; }

bool VideoWriter::append(const QImage &image, double seconds, QString *error)
{
    if (!d->open) {
        setError(error, QStringLiteral("the writer is closed"));
        return false;
    }
    if (image.width() != d->settings.width || image.height() != d->settings.height) {
        setError(error, QStringLiteral("the frame has the wrong size"));
        return false;
    }
    const int64_t pts = std::llround(seconds * d->settings.timeScale);
    if (!std::isfinite(seconds) || pts <= d->lastPts) {
        setError(error, QStringLiteral("the frame time is not later than the last"));
        return false;
    }
    QImage src = image;
    const auto f = src.format();
    if (f != QImage::Format_ARGB32 && f != QImage::Format_RGB32 && f != QImage::Format_ARGB32_Premultiplied)
        src = src.convertToFormat(QImage::Format_RGB32);
    if (av_frame_make_writable(d->frame) < 0) {
        setError(error, QStringLiteral("out of memory"));
        return false;
    }
    // libyuv's "ARGB" is B, G, R, A in memory: Qt's 32-bit formats on this machine.
    if (libyuv::ARGBToI420(src.constBits(), int(src.bytesPerLine()), d->frame->data[0], d->frame->linesize[0],
                           d->frame->data[1], d->frame->linesize[1], d->frame->data[2], d->frame->linesize[2],
                           d->settings.width, d->settings.height) != 0) {
        setError(error, QStringLiteral("the frame could not be converted"));
        return false;
    }
    d->frame->pts = pts;
    int rc = avcodec_send_frame(d->enc, d->frame);
    if (rc < 0) {
        setError(error, avText(rc));
        return false;
    }
    d->lastPts = pts;
    ++d->count;
    return d->drain(error);
}

bool VideoWriter::finish(QString *error)
{
    if (!d->open) {
        setError(error, QStringLiteral("the writer is closed"));
        return false;
    }
    bool ok = avcodec_send_frame(d->enc, nullptr) >= 0 && d->drain(error);
    if (ok) {
        const int rc = av_write_trailer(d->fmt);
        if (rc < 0) {
            setError(error, avText(rc));
            ok = false;
        }
    } else if (error && error->isEmpty()) {
        *error = QStringLiteral("the encoder could not be drained");
    }
    if (d->fmt && d->fmt->pb) {
        avio_flush(d->fmt->pb);
        if (d->fmt->pb->error < 0 && ok) {
            setError(error, avText(d->fmt->pb->error));
            ok = false;
        }
    }
    d->release();
    return ok;
}

void VideoWriter::cancel()
{
    d->release();
    QFile::remove(d->path);
}

std::optional<VideoInfo> readVideo(const QString &path, bool decodeFrames, QString *error, int maxFrames)
{
    quietLibraries();
    AVFormatContext *fmt = nullptr;
    const QByteArray file = QFile::encodeName(path);
    int rc = avformat_open_input(&fmt, file.constData(), nullptr, nullptr);
    if (rc < 0) {
        setError(error, avText(rc));
        return std::nullopt;
    }
    struct Closer {
        AVFormatContext **f;
        AVCodecContext *c = nullptr;
        AVFrame *frame = nullptr;
        AVPacket *packet = nullptr;
        ~Closer()
        {
            av_frame_free(&frame);
            av_packet_free(&packet);
            avcodec_free_context(&c);
            avformat_close_input(f);
        }
    } closer{&fmt};
    if ((rc = avformat_find_stream_info(fmt, nullptr)) < 0) {
        setError(error, avText(rc));
        return std::nullopt;
    }
    VideoInfo info;
    int videoIndex = -1;
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        if (fmt->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            ++info.videoStreams;
            if (videoIndex < 0)
                videoIndex = int(i);
        } else {
            ++info.otherStreams;
        }
    }
    if (videoIndex < 0)
        return info;
    AVStream *st = fmt->streams[videoIndex];
    info.codec = QString::fromUtf8(avcodec_get_name(st->codecpar->codec_id));
    info.width = st->codecpar->width;
    info.height = st->codecpar->height;
    info.timeBaseNum = st->time_base.num;
    info.timeBaseDen = st->time_base.den;
    const double tb = av_q2d(st->time_base);

    if (decodeFrames) {
        const AVCodec *dec = avcodec_find_decoder(st->codecpar->codec_id);
        closer.c = dec ? avcodec_alloc_context3(dec) : nullptr;
        if (!closer.c || avcodec_parameters_to_context(closer.c, st->codecpar) < 0 ||
            avcodec_open2(closer.c, dec, nullptr) < 0) {
            setError(error, QStringLiteral("no decoder for the video"));
            return std::nullopt;
        }
        closer.frame = av_frame_alloc();
    }
    closer.packet = av_packet_alloc();

    auto takeFrames = [&]() {
        while (avcodec_receive_frame(closer.c, closer.frame) >= 0) {
            if (maxFrames <= 0 || int(info.frames.size()) < maxFrames) {
                AVFrame *f = closer.frame;
                QImage img(f->width, f->height, QImage::Format_RGB32);
                if (f->format == AV_PIX_FMT_YUV420P || f->format == AV_PIX_FMT_YUVJ420P)
                    libyuv::I420ToARGB(f->data[0], f->linesize[0], f->data[1], f->linesize[1], f->data[2],
                                       f->linesize[2], img.bits(), int(img.bytesPerLine()), f->width,
                                       f->height);
                else
                    img.fill(Qt::black);
                info.frames.push_back(img);
                info.times.push_back(double(f->best_effort_timestamp) * tb);
            }
            av_frame_unref(closer.frame);
        }
    };
    while (av_read_frame(fmt, closer.packet) >= 0) {
        if (closer.packet->stream_index == videoIndex) {
            if (decodeFrames) {
                avcodec_send_packet(closer.c, closer.packet);
                takeFrames();
            } else {
                info.times.push_back(double(closer.packet->pts) * tb);
            }
        }
        av_packet_unref(closer.packet);
    }
    if (decodeFrames) {
        avcodec_send_packet(closer.c, nullptr);
        takeFrames();
    } else {
        std::sort(info.times.begin(), info.times.end());
    }
    return info;
}

} // namespace Media
