// Client TLS contexts: what they trust, the certificate they present, and
// the floor of TLS 1.2.
#include <dirent.h>

#include <cerrno>
#include <new>

#include "channel/chan_internal.h"
#include "channel/chan_openssl.h"

namespace {

bool is_set(const char *text) { return text && *text; }

// An encrypted key cannot be used: no pass phrase is ever asked for.
int no_pass_phrase(char *, int, int, void *) { return 0; }

bool readable_directory(const char *path)
{
    DIR *dir = opendir(path);
    if (dir)
        closedir(dir);
    return dir != nullptr;
}

// Whether ctx trusts any certificate: a file of revocation lists alone loads
// without complaint, yet no chain could verify against it.
bool trusts_a_certificate(SSL_CTX *ctx)
{
    STACK_OF(X509_OBJECT) *objects = X509_STORE_get0_objects(SSL_CTX_get_cert_store(ctx));
    for (int i = 0; i < sk_X509_OBJECT_num(objects); i++)
        if (X509_OBJECT_get_type(sk_X509_OBJECT_value(objects, i)) == X509_LU_X509)
            return true;
    return false;
}

// Loads the trust and the client's own certificate into ctx: CHAN_TLS_OK,
// or the code of the first setting that cannot be used.
int load(SSL_CTX *ctx, const chan_tls_settings &settings)
{
    const char *ca_file = settings.ca_file, *ca_dir = settings.ca_dir;
    const char *cert = settings.cert_file, *key = settings.key_file;
    if (is_set(ca_file) &&
        (SSL_CTX_load_verify_file(ctx, ca_file) != 1 || !trusts_a_certificate(ctx)))
        return CHAN_TLS_BAD_CA_FILE;
    // The library accepts any text as a directory and looks inside only
    // during a handshake: check that it can be read now.
    if (is_set(ca_dir) &&
        (!readable_directory(ca_dir) || SSL_CTX_load_verify_dir(ctx, ca_dir) != 1))
        return CHAN_TLS_BAD_CA_DIR;
    if (!is_set(ca_file) && !is_set(ca_dir) && SSL_CTX_set_default_verify_paths(ctx) != 1)
        return CHAN_TLS_FAILED;
    if (!is_set(cert))
        return is_set(key) ? CHAN_TLS_KEY_WITHOUT_CERT : CHAN_TLS_OK;
    if (SSL_CTX_use_certificate_chain_file(ctx, cert) != 1)
        return CHAN_TLS_BAD_CERT_FILE;
    // Without key_file, a key that does not fit is cert_file's fault.
    const int mismatch = is_set(key) ? CHAN_TLS_KEY_MISMATCH : CHAN_TLS_BAD_CERT_FILE;
    if (SSL_CTX_use_PrivateKey_file(ctx, is_set(key) ? key : cert, SSL_FILETYPE_PEM) != 1) {
        if (ERR_GET_REASON(ERR_peek_last_error()) == X509_R_KEY_VALUES_MISMATCH)
            return mismatch;
        return is_set(key) ? CHAN_TLS_BAD_KEY_FILE : CHAN_TLS_BAD_CERT_FILE;
    }
    // A key of another type than the certificate's is taken but unusable.
    return SSL_CTX_check_private_key(ctx) == 1 ? CHAN_TLS_OK : mismatch;
}

// Whether memory ran out, in the library or in the system calls it made
// (fopen, say); empties the library's error queue.
bool out_of_memory()
{
    bool found = chan_openssl_out_of_memory;
    for (unsigned long error; (error = ERR_get_error()) != 0;)
        found |= ERR_SYSTEM_ERROR(error) && ERR_GET_REASON(error) == ENOMEM;
    return found;
}

}  // namespace

int chan_tls_new(chan_tls **out, const chan_tls_settings *settings)
{
    if (!out)
        return CHAN_TLS_FAILED;
    *out = nullptr;
    const chan_tls_settings defaults = {nullptr, nullptr, nullptr, nullptr, CHAN_TLS_DEMAND};
    const chan_tls_settings &use = settings ? *settings : defaults;
    bool verify = use.verify != CHAN_TLS_NEVER;
    if (!chan_openssl_load())
        return CHAN_TLS_NO_LIBRARY;
    chan_openssl_out_of_memory = false;
    SSL_CTX *ctx = SSL_CTX_new(TLS_client_method());
    int code = CHAN_TLS_FAILED;
    if (ctx && SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION) == 1) {
        SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION);
        // Writes may end after any record and be retried from a new place,
        // as the channel's write loop does.
        SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        SSL_CTX_set_default_passwd_cb(ctx, no_pass_phrase);
        SSL_CTX_set_verify(ctx, verify ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, nullptr);
        code = load(ctx, use);
    }
    // Memory run out is no fault of the files named.
    if (code != CHAN_TLS_OK && out_of_memory())
        code = CHAN_TLS_FAILED;
    if (code == CHAN_TLS_OK && !(*out = new (std::nothrow) chan_tls{ctx, verify}))
        code = CHAN_TLS_FAILED;
    if (code != CHAN_TLS_OK)
        SSL_CTX_free(ctx);
    ERR_clear_error();
    return code;
}

void chan_tls_free(chan_tls *tls)
{
    if (!tls)
        return;
    SSL_CTX_free(tls->ctx);
    delete tls;
}
