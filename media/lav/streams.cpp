#include "media/lav/streams.h"

#include <cstdio>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
}

std::vector<std::string> DescribeStreams(const AVFormatContext* f) {
    std::vector<std::string> lines;
    for (unsigned i = 0; i < f->nb_streams; ++i) {
        const AVStream* st = f->streams[i];
        const AVCodecParameters* p = st->codecpar;
        const char* type = av_get_media_type_string(p->codec_type);
        char line[256];
        int n = std::snprintf(line, sizeof line, "#%u %s: %s", i, type ? type : "data", avcodec_get_name(p->codec_id));
        if (const char* profile = avcodec_profile_name(p->codec_id, p->profile); profile && n > 0)
            n += std::snprintf(line + n, sizeof line - n, " (%s)", profile);
        if (p->codec_type == AVMEDIA_TYPE_VIDEO && n > 0) {
            const char* pf = av_get_pix_fmt_name(static_cast<AVPixelFormat>(p->format));
            n += std::snprintf(line + n, sizeof line - n, ", %dx%d%s%s", p->width, p->height, pf ? ", " : "",
                               pf ? pf : "");
            if (st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0 && n > 0)
                n += std::snprintf(line + n, sizeof line - n, ", %.3f fps", av_q2d(st->avg_frame_rate));
        } else if (p->codec_type == AVMEDIA_TYPE_AUDIO && n > 0) {
            n += std::snprintf(line + n, sizeof line - n, ", %d Hz, %d channels", p->sample_rate,
                               p->ch_layout.nb_channels);
        }
        if (const AVDictionaryEntry* lang = av_dict_get(st->metadata, "language", nullptr, 0); lang && n > 0)
            std::snprintf(line + n, sizeof line - n, ", language %s", lang->value);
        lines.emplace_back(line);
    }
    return lines;
}

std::string ContainerName(const AVFormatContext* f) {
    const std::string name = f->iformat->long_name ? f->iformat->long_name : f->iformat->name;
    if (std::strncmp(f->iformat->name, "mov,", 4) != 0) return name;
    const AVDictionaryEntry* brand = av_dict_get(f->metadata, "major_brand", nullptr, 0);
    if (!brand || std::strncmp(brand->value, "qt", 2) == 0) return name;
    const char* family = std::strncmp(brand->value, "3g", 2) == 0 ? "3GP" : "MP4";
    return std::string(family) + " (brand " + brand->value + ")";
}
