#include "platform/Media.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <libyuv.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
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

namespace {

// One encoder feeding one stream of the file.
struct Encoder {
    AVCodecContext *ctx = nullptr;
    AVStream *stream = nullptr;
    AVFrame *frame = nullptr;
    AVPacket *packet = nullptr;

    ~Encoder() { reset(); }

    void reset()
    {
        avcodec_free_context(&ctx);
        av_frame_free(&frame);
        av_packet_free(&packet);
    }
};

// The file's length: the container's, else its first stream's.
double lengthOf(const AVFormatContext *fmt, const AVStream *st)
{
    if (fmt->duration > 0 && fmt->duration != AV_NOPTS_VALUE)
        return double(fmt->duration) / AV_TIME_BASE;
    if (st && st->duration > 0 && st->duration != AV_NOPTS_VALUE)
        return double(st->duration) * av_q2d(st->time_base);
    return 0;
}

} // namespace

struct VideoWriter::Impl {
    QString path;
    VideoSettings settings;
    AVFormatContext *fmt = nullptr;
    Encoder video;
    Encoder audio;
    // The last video packet, held back until the next one (or the end) says
    // how long its frame stands.
    AVPacket *held = nullptr;
    bool holding = false;
    std::vector<float> sound;   // samples waiting for a whole sound frame
    int64_t soundPts = 0;       // samples handed to the sound encoder
    int64_t soundIn = 0;        // samples appended
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
        video.reset();
        audio.reset();
        av_packet_free(&held);
        holding = false;
        open = false;
    }

    bool write(AVPacket *p, Encoder &e, QString *error)
    {
        av_packet_rescale_ts(p, e.ctx->time_base, e.stream->time_base);
        p->stream_index = e.stream->index;
        const int rc = av_interleaved_write_frame(fmt, p);
        av_packet_unref(p);
        if (rc < 0) {
            setError(error, avText(rc));
            return false;
        }
        return true;
    }

    // Writes out the held video packet; with a time, its frame stands until then.
    bool release(std::optional<int64_t> until, QString *error)
    {
        if (!holding)
            return true;
        holding = false;
        if (until && *until > held->pts)
            held->duration = *until - held->pts;
        return write(held, video, error);
    }

    // Moves every packet the encoder has ready into the file.
    bool drain(Encoder &e, QString *error)
    {
        for (;;) {
            int rc = avcodec_receive_packet(e.ctx, e.packet);
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
                return true;
            if (rc < 0) {
                setError(error, avText(rc));
                return false;
            }
            if (&e == &video) {
                // No B-frames: packets leave in frame order, so the next one
                // ends the one held.
                if (!release(e.packet->pts, error))
                    return false;
                av_packet_move_ref(held, e.packet);
                holding = true;
                continue;
            }
            if (!write(e.packet, e, error))
                return false;
        }
    }

    // Encodes `n` waiting samples as one sound frame (n may be short only at the end).
    bool encodeSound(int n, QString *error)
    {
        AVFrame *f = audio.frame;
        f->nb_samples = n;
        if (av_frame_make_writable(f) < 0) {
            setError(error, QStringLiteral("out of memory"));
            return false;
        }
        std::copy(sound.begin(), sound.begin() + n, reinterpret_cast<float *>(f->data[0]));
        sound.erase(sound.begin(), sound.begin() + n);
        f->pts = soundPts;
        soundPts += n;
        const int rc = avcodec_send_frame(audio.ctx, f);
        if (rc < 0) {
            setError(error, avText(rc));
            return false;
        }
        return drain(audio, error);
    }

    bool openSound(QString *error)
    {
        const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
        if (!codec) {
            setError(error, QStringLiteral("no AAC encoder"));
            return false;
        }
        audio.ctx = avcodec_alloc_context3(codec);
        audio.frame = av_frame_alloc();
        audio.packet = av_packet_alloc();
        if (!audio.ctx || !audio.frame || !audio.packet) {
            setError(error, QStringLiteral("out of memory"));
            return false;
        }
        audio.ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
        audio.ctx->sample_rate = settings.audioRate;
        av_channel_layout_default(&audio.ctx->ch_layout, 1);
        audio.ctx->bit_rate = settings.audioBitRate;
        audio.ctx->time_base = AVRational{1, settings.audioRate};
        if (fmt->oformat->flags & AVFMT_GLOBALHEADER)
            audio.ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        int rc = avcodec_open2(audio.ctx, codec, nullptr);
        if (rc < 0) {
            setError(error, avText(rc));
            return false;
        }
        audio.stream = avformat_new_stream(fmt, nullptr);
        if (!audio.stream || avcodec_parameters_from_context(audio.stream->codecpar, audio.ctx) < 0) {
            setError(error, QStringLiteral("the sound stream could not be added"));
            return false;
        }
        audio.stream->time_base = audio.ctx->time_base;
        audio.frame->format = AV_SAMPLE_FMT_FLTP;
        audio.frame->sample_rate = settings.audioRate;
        av_channel_layout_default(&audio.frame->ch_layout, 1);
        audio.frame->nb_samples = audio.ctx->frame_size > 0 ? audio.ctx->frame_size : 1024;
        if (av_frame_get_buffer(audio.frame, 0) < 0) {
            setError(error, QStringLiteral("out of memory"));
            return false;
        }
        return true;
    }

    int soundFrame() const { return audio.ctx->frame_size > 0 ? audio.ctx->frame_size : 1024; }
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

    if (d.settings.width < 2 || d.settings.height < 2 || settings.timeScale <= 0 || settings.audioRate < 0)
        return fail(OpenError::Format, QStringLiteral("the frame size is not usable"));
    if (avformat_alloc_output_context2(&d.fmt, nullptr, "mp4", file.constData()) < 0 || !d.fmt)
        return fail(OpenError::Format, QStringLiteral("no MPEG-4 container"));

    const AVCodec *codec = avcodec_find_encoder_by_name("libx264");
    if (!codec)
        codec = avcodec_find_encoder(AV_CODEC_ID_H264);
    if (!codec)
        return fail(OpenError::Format, QStringLiteral("no H.264 encoder"));
    Encoder &v = d.video;
    v.ctx = avcodec_alloc_context3(codec);
    v.frame = av_frame_alloc();
    v.packet = av_packet_alloc();
    d.held = av_packet_alloc();
    if (!v.ctx || !v.frame || !v.packet || !d.held)
        return fail(OpenError::Format, QStringLiteral("out of memory"));
    v.ctx->width = d.settings.width;
    v.ctx->height = d.settings.height;
    v.ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    v.ctx->time_base = AVRational{1, settings.timeScale};
    // Only the encoder's budget planning sees this rate; every frame keeps its own time.
    v.ctx->framerate = av_d2q(settings.plannedFps > 0 ? settings.plannedFps : 10, 1000);
    v.ctx->bit_rate = settings.quality >= 0 ? 0 : settings.bitRate;
    v.ctx->gop_size = std::max(1, settings.keyInterval);
    v.ctx->max_b_frames = 0;
    v.ctx->thread_count = std::max(0, settings.threads);
    if (d.fmt->oformat->flags & AVFMT_GLOBALHEADER)
        v.ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary *encOpts = nullptr;
    if (QByteArray(codec->name) == "libx264") {
        // Screen content changes little between frames; while recording, the
        // fastest preset keeps encoding a few milliseconds a frame on one thread.
        av_dict_set(&encOpts, "preset", settings.preset.toUtf8().constData(), 0);
        // The encoder's own statistics at its close are no one's business:
        // errors only, whatever level the libraries log at.
        av_dict_set(&encOpts, "x264-params", "log=0", 0);
        if (settings.lowLatency)
            av_dict_set(&encOpts, "tune", "zerolatency", 0);
        if (settings.quality >= 0)
            av_dict_set_int(&encOpts, "crf", std::min(settings.quality, 51), 0);
    }
    int rc = avcodec_open2(v.ctx, codec, &encOpts);
    av_dict_free(&encOpts);
    if (rc < 0)
        return fail(OpenError::Format, avText(rc));

    v.stream = avformat_new_stream(d.fmt, nullptr);
    if (!v.stream || avcodec_parameters_from_context(v.stream->codecpar, v.ctx) < 0)
        return fail(OpenError::Format, QStringLiteral("the stream could not be added"));
    v.stream->time_base = v.ctx->time_base;

    v.frame->format = AV_PIX_FMT_YUV420P;
    v.frame->width = d.settings.width;
    v.frame->height = d.settings.height;
    if (av_frame_get_buffer(v.frame, 0) < 0)
        return fail(OpenError::Format, QStringLiteral("out of memory"));

    QString soundError;
    if (settings.audioRate > 0 && !d.openSound(&soundError))
        return fail(OpenError::Format, soundError);

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
    AVFrame *frame = d->video.frame;
    if (av_frame_make_writable(frame) < 0) {
        setError(error, QStringLiteral("out of memory"));
        return false;
    }
    // libyuv's "ARGB" is B, G, R, A in memory: Qt's 32-bit formats on this machine.
    if (libyuv::ARGBToI420(src.constBits(), int(src.bytesPerLine()), frame->data[0], frame->linesize[0],
                           frame->data[1], frame->linesize[1], frame->data[2], frame->linesize[2],
                           d->settings.width, d->settings.height) != 0) {
        setError(error, QStringLiteral("the frame could not be converted"));
        return false;
    }
    frame->pts = pts;
    int rc = avcodec_send_frame(d->video.ctx, frame);
    if (rc < 0) {
        setError(error, avText(rc));
        return false;
    }
    d->lastPts = pts;
    ++d->count;
    return d->drain(d->video, error);
}

bool VideoWriter::appendAudio(const float *samples, qsizetype count, QString *error)
{
    if (!d->open || !d->audio.ctx) {
        setError(error, d->open ? QStringLiteral("the video has no sound track") : QStringLiteral("the writer is closed"));
        return false;
    }
    d->sound.insert(d->sound.end(), samples, samples + count);
    d->soundIn += count;
    const int n = d->soundFrame();
    while (qsizetype(d->sound.size()) >= n)
        if (!d->encodeSound(n, error))
            return false;
    return true;
}

double VideoWriter::audioSeconds() const
{
    return d->settings.audioRate > 0 ? double(d->soundIn) / d->settings.audioRate : 0;
}

bool VideoWriter::finish(QString *error, std::optional<double> endSeconds)
{
    if (!d->open) {
        setError(error, QStringLiteral("the writer is closed"));
        return false;
    }
    bool ok = true;
    if (d->audio.ctx) {
        if (!d->sound.empty())
            ok = d->encodeSound(int(d->sound.size()), error);
        ok = ok && avcodec_send_frame(d->audio.ctx, nullptr) >= 0 && d->drain(d->audio, error);
    }
    ok = ok && avcodec_send_frame(d->video.ctx, nullptr) >= 0 && d->drain(d->video, error);
    std::optional<int64_t> until;
    if (endSeconds && std::isfinite(*endSeconds))
        until = std::llround(*endSeconds * d->settings.timeScale);
    ok = ok && d->release(until, error);
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

// --- reading -----------------------------------------------------------------

namespace {

// An opened file and the decoder of one of its streams.
struct Source {
    AVFormatContext *fmt = nullptr;
    AVCodecContext *dec = nullptr;
    AVFrame *frame = nullptr;
    AVPacket *packet = nullptr;
    SwsContext *sws = nullptr;
    int index = -1;
    double tb = 0;
    bool flushed = false; // the decoder has been told the stream ended

    ~Source()
    {
        sws_freeContext(sws);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&dec);
        avformat_close_input(&fmt);
    }

    bool openFile(const QString &path, QString *error)
    {
        quietLibraries();
        const QByteArray file = QFile::encodeName(path);
        int rc = avformat_open_input(&fmt, file.constData(), nullptr, nullptr);
        if (rc < 0 || (rc = avformat_find_stream_info(fmt, nullptr)) < 0) {
            setError(error, avText(rc));
            return false;
        }
        packet = av_packet_alloc();
        return packet != nullptr;
    }

    // Opens the decoder of stream `index`; `refusal` is the error when it cannot.
    bool openDecoder(int threads, const QString &refusal, QString *error)
    {
        AVStream *st = fmt->streams[index];
        const AVCodec *codec = avcodec_find_decoder(st->codecpar->codec_id);
        dec = codec ? avcodec_alloc_context3(codec) : nullptr;
        if (dec)
            dec->thread_count = threads;
        frame = av_frame_alloc();
        if (!dec || !frame || avcodec_parameters_to_context(dec, st->codecpar) < 0 ||
            avcodec_open2(dec, codec, nullptr) < 0) {
            setError(error, refusal);
            return false;
        }
        return true;
    }

    QImage image()
    {
        const AVFrame *f = frame;
        QImage img(f->width, f->height, QImage::Format_RGB32);
        if (img.isNull())
            return img;
        if (f->format == AV_PIX_FMT_YUV420P || f->format == AV_PIX_FMT_YUVJ420P) {
            libyuv::I420ToARGB(f->data[0], f->linesize[0], f->data[1], f->linesize[1], f->data[2], f->linesize[2],
                               img.bits(), int(img.bytesPerLine()), f->width, f->height);
            return img;
        }
        sws = sws_getCachedContext(sws, f->width, f->height, AVPixelFormat(f->format), f->width, f->height,
                                   AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
        uint8_t *dst[4] = {img.bits(), nullptr, nullptr, nullptr};
        const int dstStride[4] = {int(img.bytesPerLine()), 0, 0, 0};
        if (!sws || sws_scale(sws, f->data, f->linesize, 0, f->height, dst, dstStride) <= 0)
            img.fill(Qt::black);
        return img;
    }

    // The next decoded frame into `frame`; false at the end.
    bool decodeNext()
    {
        for (;;) {
            const int rc = avcodec_receive_frame(dec, frame);
            if (rc >= 0)
                return true;
            if (rc != AVERROR(EAGAIN) || flushed)
                return false;
            bool sent = false;
            while (!sent) {
                if (av_read_frame(fmt, packet) < 0) {
                    avcodec_send_packet(dec, nullptr);
                    flushed = true;
                    break;
                }
                if (packet->stream_index == index) {
                    avcodec_send_packet(dec, packet);
                    sent = true;
                }
                av_packet_unref(packet);
            }
        }
    }
};

} // namespace

struct VideoReader::Impl : Source {};

VideoReader::VideoReader() : d(std::make_unique<Impl>()) {}
VideoReader::~VideoReader() = default;

std::unique_ptr<VideoReader> VideoReader::open(const QString &path, QString *error)
{
    std::unique_ptr<VideoReader> r(new VideoReader);
    if (!r->d->openFile(path, error))
        return nullptr;
    r->d->index = av_find_best_stream(r->d->fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (r->d->index < 0) {
        setError(error, QStringLiteral("the file has no video"));
        return nullptr;
    }
    // The machine's processors: a long video decodes in a fraction of its length.
    if (!r->d->openDecoder(0, QStringLiteral("no decoder for the video"), error))
        return nullptr;
    r->d->tb = av_q2d(r->d->fmt->streams[r->d->index]->time_base);
    return r;
}

int VideoReader::width() const { return d->fmt->streams[d->index]->codecpar->width; }
int VideoReader::height() const { return d->fmt->streams[d->index]->codecpar->height; }
double VideoReader::duration() const { return lengthOf(d->fmt, d->fmt->streams[d->index]); }

bool VideoReader::next(QImage *image, double *seconds)
{
    if (!d->decodeNext())
        return false;
    if (image)
        *image = d->image();
    if (seconds)
        *seconds = double(d->frame->best_effort_timestamp) * d->tb;
    av_frame_unref(d->frame);
    return true;
}

std::optional<QImage> frameAt(const QString &path, double seconds, QString *error)
{
    auto reader = VideoReader::open(path, error);
    if (!reader)
        return std::nullopt;
    QImage shown, img;
    double t = 0;
    while (reader->next(&img, &t)) {
        if (t > seconds + 1e-6 && !shown.isNull())
            break;
        shown = img;
        if (t > seconds + 1e-6)
            break;
    }
    if (shown.isNull()) {
        setError(error, QStringLiteral("no frame could be decoded"));
        return std::nullopt;
    }
    return shown;
}

std::optional<VideoInfo> readVideo(const QString &path, bool decodeFrames, QString *error, int maxFrames)
{
    Source r;
    if (!r.openFile(path, error))
        return std::nullopt;
    VideoInfo info;
    for (unsigned i = 0; i < r.fmt->nb_streams; ++i) {
        const AVCodecParameters *par = r.fmt->streams[i]->codecpar;
        if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
            ++info.videoStreams;
            if (r.index < 0)
                r.index = int(i);
        } else {
            ++info.otherStreams;
            if (par->codec_type == AVMEDIA_TYPE_AUDIO && info.audioCodec.isEmpty())
                info.audioCodec = QString::fromUtf8(avcodec_get_name(par->codec_id));
        }
    }
    info.duration = lengthOf(r.fmt, r.index >= 0 ? r.fmt->streams[r.index] : nullptr);
    if (r.index < 0)
        return info;
    AVStream *st = r.fmt->streams[r.index];
    info.codec = QString::fromUtf8(avcodec_get_name(st->codecpar->codec_id));
    info.width = st->codecpar->width;
    info.height = st->codecpar->height;
    info.timeBaseNum = st->time_base.num;
    info.timeBaseDen = st->time_base.den;
    r.tb = av_q2d(st->time_base);

    if (!decodeFrames) {
        while (av_read_frame(r.fmt, r.packet) >= 0) {
            if (r.packet->stream_index == r.index)
                info.times.push_back(double(r.packet->pts) * r.tb);
            av_packet_unref(r.packet);
        }
        std::sort(info.times.begin(), info.times.end());
        return info;
    }
    if (!r.openDecoder(1, QStringLiteral("no decoder for the video"), error))
        return std::nullopt;
    while (r.decodeNext()) {
        if (maxFrames <= 0 || int(info.frames.size()) < maxFrames) {
            info.frames.push_back(r.image());
            info.times.push_back(double(r.frame->best_effort_timestamp) * r.tb);
        }
        av_frame_unref(r.frame);
    }
    return info;
}

std::optional<std::vector<float>> readAudio(const QString &path, int sampleRate, double maxSeconds, QString *error)
{
    Source r;
    if (sampleRate <= 0 || !r.openFile(path, error))
        return std::nullopt;
    r.index = av_find_best_stream(r.fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (r.index < 0) {
        setError(error, QStringLiteral("the file holds no sound"));
        return std::nullopt;
    }
    if (!r.openDecoder(1, QStringLiteral("no decoder for the sound"), error))
        return std::nullopt;
    if (r.dec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&r.dec->ch_layout, std::max(1, r.dec->ch_layout.nb_channels));
    SwrContext *swr = nullptr;
    AVChannelLayout mono;
    av_channel_layout_default(&mono, 1);
    if (swr_alloc_set_opts2(&swr, &mono, AV_SAMPLE_FMT_FLT, sampleRate, &r.dec->ch_layout, r.dec->sample_fmt,
                            r.dec->sample_rate, 0, nullptr) < 0 ||
        swr_init(swr) < 0) {
        swr_free(&swr);
        setError(error, QStringLiteral("the sound cannot be converted"));
        return std::nullopt;
    }
    const auto cap = qsizetype(std::clamp(maxSeconds, 0.0, 86400.0) * sampleRate);
    std::vector<float> out;
    auto take = [&](const uint8_t **in, int n) {
        const int room = swr_get_out_samples(swr, n);
        if (room <= 0)
            return;
        std::vector<float> buf(size_t(room) + 16);
        uint8_t *dst = reinterpret_cast<uint8_t *>(buf.data());
        const int got = swr_convert(swr, &dst, int(buf.size()), in, n);
        if (got > 0) {
            const qsizetype keep = std::min<qsizetype>(got, cap - qsizetype(out.size()));
            if (keep > 0)
                out.insert(out.end(), buf.begin(), buf.begin() + keep);
        }
    };
    while (qsizetype(out.size()) < cap && r.decodeNext()) {
        take(const_cast<const uint8_t **>(r.frame->extended_data), r.frame->nb_samples);
        av_frame_unref(r.frame);
    }
    if (qsizetype(out.size()) < cap)
        take(nullptr, 0);
    swr_free(&swr);
    return out;
}

} // namespace Media
