/* The codec limit for JPEG to JPEG: libjpeg-turbo's TurboJPEG decodes a file
 * to RGB pixels and encodes them again at a given quality and chroma
 * sampling, with no text and nothing else, as a whole process.
 * bench/codec_limit.sh times the imgtext tool against it.
 *
 *   turbojpeg_reference [-s 444|422|420|input] QUALITY IN.jpg OUT.jpg
 *   turbojpeg_reference --info FILE.jpg     prints "WIDTH HEIGHT SAMPLING"
 *
 * -s chooses the output's chroma sampling (default: the input's); the
 * benchmark passes the sampling the library's own output has, read with
 * --info, so both sides write the same kind of file. Both codecs run with
 * TurboJPEG's defaults: the accurate integer DCT and smooth upsampling.
 * The output is written in place, not through a temporary file and a
 * rename as the library writes it. Only the benchmark links TurboJPEG. */
#include <turbojpeg.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int fail(const char *what, const char *detail) {
    fprintf(stderr, "turbojpeg_reference: %s%s%s\n", what, detail ? ": " : "", detail ? detail : "");
    return 1;
}

/* The whole file in a malloc'd buffer; NULL on failure. */
static unsigned char *read_file(const char *path, unsigned long *size) {
    FILE *file = fopen(path, "rb");
    unsigned char *data = NULL;
    long length;
    if (!file) return NULL;
    if (fseek(file, 0, SEEK_END) == 0 && (length = ftell(file)) > 0 && fseek(file, 0, SEEK_SET) == 0) {
        data = (unsigned char *)malloc((size_t)length);
        if (data && fread(data, 1, (size_t)length, file) != (size_t)length) {
            free(data);
            data = NULL;
        }
        *size = (unsigned long)length;
    }
    fclose(file);
    return data;
}

static const char *sampling_name(int sampling) {
    switch (sampling) {
        case TJSAMP_444: return "444";
        case TJSAMP_422: return "422";
        case TJSAMP_420: return "420";
        case TJSAMP_GRAY: return "gray";
        case TJSAMP_440: return "440";
        case TJSAMP_411: return "411";
        default: return "other";
    }
}

static int parse_sampling(const char *text) {
    if (strcmp(text, "444") == 0) return TJSAMP_444;
    if (strcmp(text, "422") == 0) return TJSAMP_422;
    if (strcmp(text, "420") == 0) return TJSAMP_420;
    if (strcmp(text, "input") == 0) return -1;
    return -2;
}

int main(int argc, char **argv) {
    int sampling = -1, arg = 1, width = 0, height = 0, in_sampling = -1, colorspace = -1, quality, status = 1;
    unsigned long in_size = 0, out_size = 0;
    unsigned char *input, *pixels = NULL, *output = NULL;
    tjhandle decoder, encoder = NULL;
    FILE *out;

    if (argc == 3 && strcmp(argv[1], "--info") == 0)
        arg = 2;
    else if (argc == 6 && strcmp(argv[1], "-s") == 0) {
        if ((sampling = parse_sampling(argv[2])) == -2) return fail("unknown sampling", argv[2]);
        arg = 3;
    } else if (argc != 4)
        return fail("usage: turbojpeg_reference [-s 444|422|420|input] QUALITY IN OUT | --info FILE", NULL);
    quality = arg == 2 ? 0 : atoi(argv[arg]);
    if (arg != 2 && (quality < 1 || quality > 100)) return fail("quality must be 1 to 100", argv[arg]);
    const char *in_path = arg == 2 ? argv[2] : argv[arg + 1];

    if (!(input = read_file(in_path, &in_size))) return fail("cannot read", in_path);
    if (!(decoder = tjInitDecompress())) {
        free(input);
        return fail("tjInitDecompress", tjGetErrorStr());
    }
    /* A file cut short inside its header may be accepted with nothing read. */
    if (tjDecompressHeader3(decoder, input, in_size, &width, &height, &in_sampling, &colorspace) != 0 || width <= 0 ||
        height <= 0) {
        fail("cannot read the JPEG header", tjGetErrorStr2(decoder));
        goto done;
    }
    if (arg == 2) {
        printf("%d %d %s\n", width, height, sampling_name(in_sampling));
        status = 0;
        goto done;
    }
    if (sampling < 0) sampling = in_sampling;
    pixels = (unsigned char *)malloc((size_t)width * (size_t)height * 3);
    if (!pixels) {
        fail("out of memory", NULL);
        goto done;
    }
    if (tjDecompress2(decoder, input, in_size, pixels, width, 0, height, TJPF_RGB, 0) != 0) {
        fail("cannot decode", tjGetErrorStr2(decoder));
        goto done;
    }
    if (!(encoder = tjInitCompress())) {
        fail("tjInitCompress", tjGetErrorStr());
        goto done;
    }
    if (tjCompress2(encoder, pixels, width, 0, height, TJPF_RGB, &output, &out_size, sampling, quality, 0) != 0) {
        fail("cannot encode", tjGetErrorStr2(encoder));
        goto done;
    }
    if (!(out = fopen(argv[arg + 2], "wb"))) {
        fail("cannot create", argv[arg + 2]);
        goto done;
    }
    status = fwrite(output, 1, out_size, out) == out_size ? 0 : 1;
    if (fclose(out) != 0 || status != 0) status = fail("cannot write", argv[arg + 2]);
done:
    tjFree(output);
    free(pixels);
    free(input);
    if (encoder) tjDestroy(encoder);
    tjDestroy(decoder);
    return status;
}
