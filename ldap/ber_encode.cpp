// BER encoder: tag-length-value elements appended to a growable data_buf.
// Constructed elements are built inside out, so every length is known before
// its header is written and nothing is patched afterwards.
#include "ldap/ldap.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

// Puts the buffer into its failed state: no storage, length -1. Every later
// write is ignored until data_clear.
void data_fail(data_buf *buf)
{
    free(buf->data);
    buf->data = nullptr;
    buf->length = -1;
    buf->indefinite = 0;
}

// The storage a buffer of length octets holds: the octets and the spare one,
// rounded up to a power of two (at least 256), so that appending element by
// element reallocates only now and then. The record keeps no capacity: its
// storage follows from its length, which only grows until data_clear.
size_t storage_for(int length)
{
    size_t size = 256;
    while (size < static_cast<size_t>(length) + 1)
        size *= 2;
    return size;
}

// Makes room for `count` more octets (plus the spare one) and returns where
// they go, or null when the buffer has failed or cannot grow.
unsigned char *data_room(data_buf *buf, int count)
{
    if (buf->length < 0)
        return nullptr;
    if (count > INT_MAX - 1 - buf->length) {
        data_fail(buf);
        return nullptr;
    }
    size_t size = storage_for(buf->length + count);
    if (!buf->data || size > storage_for(buf->length)) {
        auto *grown = static_cast<unsigned char *>(realloc(buf->data, size));
        if (!grown) {
            data_fail(buf);
            return nullptr;
        }
        buf->data = grown;
    }
    unsigned char *at = buf->data + buf->length;
    buf->length += count;
    return at;
}

void data_put(data_buf *buf, const void *octets, int count)
{
    unsigned char *at = data_room(buf, count);
    if (at && count > 0)
        memcpy(at, octets, count);
}

// One primitive element; missing octets encode as empty content.
void data_primitive(data_buf *buf, int id, const void *octets, int count)
{
    if (!octets || count < 0)
        count = 0;
    data_start(buf, id, count);
    data_add(buf, octets, count);
    data_end(buf);
}

// An INTEGER or ENUMERATED (id) of value read as unsigned, in the fewest
// octets: a zero first when the top bit is set.
void data_unsigned(data_buf *buf, int id, uint32_t value)
{
    if (!buf)
        return;
    unsigned char octets[5];
    int start = 5;
    do {
        octets[--start] = static_cast<unsigned char>(value);
        value >>= 8;
    } while (value != 0);
    if (octets[start] & 0x80)
        octets[--start] = 0;
    data_start(buf, id, 5 - start);
    data_add(buf, octets + start, 5 - start);
}

}  // namespace

void data_init(data_buf *buf)
{
    if (!buf)
        return;
    buf->indefinite = 0;
    buf->length = 0;
    buf->data = nullptr;
}

void data_clear(data_buf *buf)
{
    if (!buf)
        return;
    free(buf->data);
    data_init(buf);
}

void data_start(data_buf *buf, int id, int length)
{
    if (!buf)
        return;
    unsigned char head[6];
    int size = 0;
    head[size++] = static_cast<unsigned char>(id);
    uint32_t value = static_cast<uint32_t>(length);
    if (value <= 127) {
        head[size++] = static_cast<unsigned char>(value);
    } else {
        // Two length octets from 128 on (even where one would do); above
        // 31999 the definite long form with three or four octets.
        int octets = value <= 31999 ? 2 : value <= 0xFFFFFF ? 3 : 4;
        head[size++] = static_cast<unsigned char>(0x80 | octets);
        for (int shift = (octets - 1) * 8; shift >= 0; shift -= 8)
            head[size++] = static_cast<unsigned char>(value >> shift);
    }
    buf->indefinite = 0;
    data_put(buf, head, size);
}

void data_add(data_buf *buf, const void *octets, int count)
{
    if (!buf || !octets || count <= 0)
        return;
    data_put(buf, octets, count);
}

void data_end(data_buf *buf)
{
    if (!buf)
        return;
    if (buf->indefinite) {
        static const unsigned char eoc[2] = {0, 0};
        buf->indefinite = 0;
        data_put(buf, eoc, 2);
    }
    // Every write leaves one spare octet after the content.
    if (buf->data && buf->length >= 0)
        buf->data[buf->length] = 0;
}

void data_data(data_buf *dst, const data_buf *src, int id)
{
    if (!dst || !src)
        return;
    if (src->length < 0) {
        data_fail(dst);
        return;
    }
    data_start(dst, id, src->length);
    data_add(dst, src->data, src->length);
    data_end(dst);
}

void data_wrap(data_buf *dst, data_buf *inner, int id)
{
    data_data(dst, inner, id);
    data_clear(inner);
}

void data_add_data(data_buf *dst, const data_buf *src)
{
    if (!dst || !src)
        return;
    if (src->length < 0)
        data_fail(dst);
    else
        data_add(dst, src->data, src->length);
}

void data_add_upper(data_buf *buf, int id)
{
    if (!buf || buf->length < 0)
        return;
    data_buf wrapped;
    data_init(&wrapped);
    data_data(&wrapped, buf, id);
    free(buf->data);
    *buf = wrapped;
}

void data_upper_app(data_buf *buf, int tag)
{
    if (!buf)
        return;
    int id = (tag | 0x40) & 0xFF;
    if (buf->length == 0)
        data_primitive(buf, id & 0xDF, nullptr, 0);
    else
        data_add_upper(buf, id);
}

void data_add_integer(data_buf *buf, uint32_t value) { data_unsigned(buf, 0x02, value); }

void data_add_bool(data_buf *buf, int flag)
{
    const unsigned char value = flag ? 0xFF : 0x00;
    data_start(buf, 0x01, 1);
    data_add(buf, &value, 1);
}

void data_add_enum(data_buf *buf, int value)
{
    data_unsigned(buf, 0x0A, static_cast<uint32_t>(value));
}

void data_add_string(data_buf *buf, const char *text)
{
    data_primitive(buf, 0x04, text, static_cast<int>(s_strlen(text)));
}

void data_add_ldapdn(data_buf *buf, const char *text) { data_add_string(buf, text); }

void data_add_binary(data_buf *buf, const void *octets, int count)
{
    data_primitive(buf, 0x04, octets, count);
}

void data_add_IA5string(data_buf *buf, const char *text)
{
    data_primitive(buf, 0x16, text, static_cast<int>(s_strlen(text)));
}
