// Starting TLS on an open channel: the client handshake and its failure
// texts.
#include <arpa/inet.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "channel/chan_internal.h"
#include "channel/chan_openssl.h"

namespace {

// The address a host text stands for when the connection reads it as one
// (chan_resolve): an IPv6 address, its "%zone" (the way out, not the host)
// left off, or an IPv4 number in any form inet_aton reads ("127.1"). Its 4
// or 16 octets go to *octets; 0 for a name. Such a text is checked against
// the certificate's addresses, never its DNS names, and never sent as a
// server name.
size_t address_of(const std::string &host, unsigned char *octets)
{
    if (host.find(':') != std::string::npos)
        return inet_pton(AF_INET6, host.substr(0, host.find('%')).c_str(), octets) == 1 ? 16 : 0;
    in_addr v4;
    if (!inet_aton(host.c_str(), &v4))
        return 0;
    memcpy(octets, &v4, 4);
    return 4;
}

// Sets the server name and what the certificate must name; "" when done,
// else why not.
std::string name_peer(SSL *ssl, const std::string &host, bool verify)
{
    if (host.empty())
        return verify ? "no host name to check the certificate against" : "";
    unsigned char octets[16];
    size_t size = address_of(host, octets);
    // A text with ':' is no DNS name even when it is no address either.
    if (size || host.find(':') != std::string::npos) {
        X509_VERIFY_PARAM *param = SSL_get0_param(ssl);
        bool set = !verify || (size && X509_VERIFY_PARAM_set1_ip(param, octets, size) == 1);
        return set ? "" : "cannot check the certificate against " + host;
    }
    // A final dot only makes the name absolute: neither the server name
    // sent nor the certificate's names carry it.
    std::string name =
        host.size() > 1 && host.back() == '.' ? host.substr(0, host.size() - 1) : host;
    SSL_set_hostflags(ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    if (SSL_set_tlsext_host_name(ssl, name.c_str()) != 1 ||
        (verify && SSL_set1_host(ssl, name.c_str()) != 1))
        return "cannot use host name " + host;
    return "";
}

// What made a handshake fail, in words an administrator can act on.
std::string handshake_failure(SSL *ssl, int code, int saved_errno, const std::string &host)
{
    unsigned long error = ERR_peek_error();
    int reason = ERR_GET_LIB(error) == ERR_LIB_SSL ? ERR_GET_REASON(error) : 0;
    long verified = SSL_get_verify_result(ssl);
    if (reason == SSL_R_CERTIFICATE_VERIFY_FAILED &&
        (verified == X509_V_ERR_HOSTNAME_MISMATCH || verified == X509_V_ERR_IP_ADDRESS_MISMATCH))
        return "certificate does not match host " + host;
    if (reason == SSL_R_CERTIFICATE_VERIFY_FAILED)
        return std::string("certificate verify failed (") +
               X509_verify_cert_error_string(verified) + ")";
    if (reason == SSL_R_WRONG_VERSION_NUMBER || reason == SSL_R_PACKET_LENGTH_TOO_LONG ||
        reason == SSL_R_HTTP_REQUEST)
        return std::string("peer is not speaking TLS (") + chan_tls_reason(error) + ")";
    if (code == SSL_ERROR_ZERO_RETURN || reason == SSL_R_UNEXPECTED_EOF_WHILE_READING ||
        (code == SSL_ERROR_SYSCALL && !error && !saved_errno))
        return "peer closed the connection (is it speaking TLS?)";
    return error ? chan_tls_reason(error) : strerror(saved_errno);
}

// Runs the handshake on the non-blocking socket until done or the time is
// up; "" on success, else why it failed.
std::string handshake(chan_rec *chan, SSL *ssl, const std::string &host, int timeout_sec)
{
    const int64_t deadline = monotonic_us() + int64_t(timeout_sec) * 1000000;
    for (;;) {
        ERR_clear_error();
        int result = SSL_connect(ssl);
        int saved_errno = errno;
        if (result == 1)
            return "";
        int code = SSL_get_error(ssl, result);
        if (code != SSL_ERROR_WANT_READ && code != SSL_ERROR_WANT_WRITE)
            return handshake_failure(ssl, code, saved_errno, host);
        int64_t left = deadline - monotonic_us();
        short revents;
        int ready = left <= 0 ? 0
                              : chan_poll(chan, code == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT,
                                          int(left / 1000000), int(left % 1000000), &revents);
        if (ready == 0)
            return "peer did not answer the TLS handshake within " + std::to_string(timeout_sec) +
                   " s";
        if (ready < 0)
            return strerror(errno);
    }
}

// Starts the session on the open, plain channel; 1, or 0 with the session
// freed (also when memory runs out on the way) and why in *why.
int start_session(chan_rec *chan, chan_tls *tls, const char *host, int timeout_sec,
                  std::string *why)
{
    std::string name = host ? host : chan->remoteip ? chan->remoteip : "";
    if (name.size() > 2 && name.front() == '[' && name.back() == ']')
        name = name.substr(1, name.size() - 2);
    // Pending bytes came unprotected, maybe from an attacker.
    bool usable = tls && chan->pending_len <= 0;
    std::unique_ptr<SSL, void (*)(SSL *)> ssl(usable ? SSL_new(tls->ctx) : nullptr, SSL_free);
    if (!tls)
        *why = "no TLS context";
    else if (!usable)
        *why = "bytes arrived before the handshake";
    else if (!ssl)
        *why = "out of memory";
    else {
        BIO *bio = chan_tls_bio(chan);
        if (bio)
            SSL_set_bio(ssl.get(), bio, bio);
        *why = !bio ? "out of memory" : name_peer(ssl.get(), name, tls->verify);
    }
    if (why->empty() && !chan_block(chan, 0))
        *why = strerror(errno);
    // The handshake's last flight and the first request go out back to
    // back: with Nagle's algorithm the request would wait for the peer's
    // delayed acknowledgement (40 ms on Linux) before it left.
    if (why->empty())
        chan_nodelay(chan, 1);
    if (why->empty())
        *why = handshake(chan, ssl.get(), name, timeout_sec < 1 ? 1 : timeout_sec);
    if (!why->empty())
        return 0;
    chan->tls = ssl.release();
    chan_log("TLS Started: %s %s {%d}%s", SSL_get_version(chan->tls),
             SSL_get_cipher_name(chan->tls), chan->sock, "\n");
    return 1;
}

}  // namespace

int chan_tls_start(chan_rec *chan, chan_tls *tls, const char *host, int timeout_sec)
{
    if (!chan)
        return 0;
    chan_drop_error(chan);
    if (!chan_isopen(chan) || chan->tls) {
        chan_set_error(chan,
                       chan->tls ? "TLS is already running on this connection" : "Socket Not Open");
        return 0;
    }
    return oom_guard(
        [&] {
            std::string why;
            if (start_session(chan, tls, host, timeout_sec, &why))
                return 1;
            // Without a context the library may never have been loaded.
            if (tls)
                ERR_clear_error();
            chan_close(chan);
            // One line of text, whatever the host name held.
            for (char &c : why)
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                    c = '?';
            chan_set_errorf(chan, "TLS handshake failed: %s", why.c_str());
            return 0;
        },
        [&] {
            if (tls)
                ERR_clear_error();
            chan_close(chan);
            chan_set_error(chan, "TLS handshake failed: out of memory");
            return 0;
        });
}
