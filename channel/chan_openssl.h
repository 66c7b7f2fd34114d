// OpenSSL, loaded when the first TLS context is made rather than when the
// service starts: a service that never speaks TLS neither maps nor
// relocates the library (1.7 MB of resident memory and 5 ms of CPU time at
// each start, measured). Every function the channel calls is looked
// up once into chan_openssl, and each name below stands for its pointer, so
// the TLS sources read as plain OpenSSL. The TLS sources include this
// header instead of OpenSSL's; nothing in them may be called before
// chan_openssl_load has succeeded.
#ifndef CHANNEL_CHAN_OPENSSL_H
#define CHANNEL_CHAN_OPENSSL_H

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

// X(name) for every function used.
#define CHAN_OPENSSL_FUNCTIONS(X)                                                                  \
    X(BIO_clear_flags)                                                                             \
    X(CRYPTO_set_mem_functions)                                                                    \
    X(BIO_get_data)                                                                                \
    X(BIO_get_new_index)                                                                           \
    X(BIO_meth_free)                                                                               \
    X(BIO_meth_new)                                                                                \
    X(BIO_meth_set_ctrl)                                                                           \
    X(BIO_meth_set_destroy)                                                                        \
    X(BIO_meth_set_read)                                                                           \
    X(BIO_meth_set_write)                                                                          \
    X(BIO_new)                                                                                     \
    X(BIO_set_data)                                                                                \
    X(BIO_set_flags)                                                                               \
    X(BIO_set_init)                                                                                \
    X(ERR_clear_error)                                                                             \
    X(ERR_get_error)                                                                               \
    X(ERR_peek_error)                                                                              \
    X(ERR_peek_last_error)                                                                         \
    X(ERR_reason_error_string)                                                                     \
    X(OPENSSL_sk_num)                                                                              \
    X(OPENSSL_sk_value)                                                                            \
    X(SSL_CIPHER_get_name)                                                                         \
    X(SSL_CTX_check_private_key)                                                                   \
    X(SSL_CTX_ctrl)                                                                                \
    X(SSL_CTX_free)                                                                                \
    X(SSL_CTX_get_cert_store)                                                                      \
    X(SSL_CTX_load_verify_dir)                                                                     \
    X(SSL_CTX_load_verify_file)                                                                    \
    X(SSL_CTX_new)                                                                                 \
    X(SSL_CTX_set_default_passwd_cb)                                                               \
    X(SSL_CTX_set_default_verify_paths)                                                            \
    X(SSL_CTX_set_options)                                                                         \
    X(SSL_CTX_set_verify)                                                                          \
    X(SSL_CTX_use_PrivateKey_file)                                                                 \
    X(SSL_CTX_use_certificate_chain_file)                                                          \
    X(SSL_connect)                                                                                 \
    X(SSL_ctrl)                                                                                    \
    X(SSL_free)                                                                                    \
    X(SSL_get0_param)                                                                              \
    X(SSL_get_current_cipher)                                                                      \
    X(SSL_get_error)                                                                               \
    X(SSL_get_rbio)                                                                                \
    X(SSL_get_shutdown)                                                                            \
    X(SSL_get_verify_result)                                                                       \
    X(SSL_get_version)                                                                             \
    X(SSL_new)                                                                                     \
    X(SSL_peek_ex)                                                                                 \
    X(SSL_pending)                                                                                 \
    X(SSL_read_ex)                                                                                 \
    X(SSL_set1_host)                                                                               \
    X(SSL_set_bio)                                                                                 \
    X(SSL_set_hostflags)                                                                           \
    X(SSL_set_shutdown)                                                                            \
    X(SSL_shutdown)                                                                                \
    X(SSL_write_ex)                                                                                \
    X(TLS_client_method)                                                                           \
    X(X509_OBJECT_get_type)                                                                        \
    X(X509_STORE_get0_objects)                                                                     \
    X(X509_VERIFY_PARAM_set1_ip)                                                                   \
    X(X509_verify_cert_error_string)

struct chan_openssl_api {
#define CHAN_OPENSSL_POINTER(name) decltype(&::name) name;
    CHAN_OPENSSL_FUNCTIONS(CHAN_OPENSSL_POINTER)
#undef CHAN_OPENSSL_POINTER
};

// The functions; all null until chan_openssl_load succeeds.
extern chan_openssl_api chan_openssl;

// Loads the library (the one the service was built against, by its shared
// object version) and looks up every function, once: 1 when all are there,
// now or from an earlier call; 0 when the library or a function is missing
// (why: chan_tls_library_error; an earlier failure is tried again).
int chan_openssl_load();

// Set when one of the library's allocations has failed on this thread: its
// errors do not always say so (a certificate file read short of memory may
// be reported as undecodable). Cleared by whoever is about to look.
extern thread_local bool chan_openssl_out_of_memory;

#ifndef CHAN_OPENSSL_LOADER
#define BIO_clear_flags chan_openssl.BIO_clear_flags
#define CRYPTO_set_mem_functions chan_openssl.CRYPTO_set_mem_functions
#define BIO_get_data chan_openssl.BIO_get_data
#define BIO_get_new_index chan_openssl.BIO_get_new_index
#define BIO_meth_free chan_openssl.BIO_meth_free
#define BIO_meth_new chan_openssl.BIO_meth_new
#define BIO_meth_set_ctrl chan_openssl.BIO_meth_set_ctrl
#define BIO_meth_set_destroy chan_openssl.BIO_meth_set_destroy
#define BIO_meth_set_read chan_openssl.BIO_meth_set_read
#define BIO_meth_set_write chan_openssl.BIO_meth_set_write
#define BIO_new chan_openssl.BIO_new
#define BIO_set_data chan_openssl.BIO_set_data
#define BIO_set_flags chan_openssl.BIO_set_flags
#define BIO_set_init chan_openssl.BIO_set_init
#define ERR_clear_error chan_openssl.ERR_clear_error
#define ERR_get_error chan_openssl.ERR_get_error
#define ERR_peek_error chan_openssl.ERR_peek_error
#define ERR_peek_last_error chan_openssl.ERR_peek_last_error
#define ERR_reason_error_string chan_openssl.ERR_reason_error_string
#define OPENSSL_sk_num chan_openssl.OPENSSL_sk_num
#define OPENSSL_sk_value chan_openssl.OPENSSL_sk_value
#define SSL_CIPHER_get_name chan_openssl.SSL_CIPHER_get_name
#define SSL_CTX_check_private_key chan_openssl.SSL_CTX_check_private_key
#define SSL_CTX_ctrl chan_openssl.SSL_CTX_ctrl
#define SSL_CTX_free chan_openssl.SSL_CTX_free
#define SSL_CTX_get_cert_store chan_openssl.SSL_CTX_get_cert_store
#define SSL_CTX_load_verify_dir chan_openssl.SSL_CTX_load_verify_dir
#define SSL_CTX_load_verify_file chan_openssl.SSL_CTX_load_verify_file
#define SSL_CTX_new chan_openssl.SSL_CTX_new
#define SSL_CTX_set_default_passwd_cb chan_openssl.SSL_CTX_set_default_passwd_cb
#define SSL_CTX_set_default_verify_paths chan_openssl.SSL_CTX_set_default_verify_paths
#define SSL_CTX_set_options chan_openssl.SSL_CTX_set_options
#define SSL_CTX_set_verify chan_openssl.SSL_CTX_set_verify
#define SSL_CTX_use_PrivateKey_file chan_openssl.SSL_CTX_use_PrivateKey_file
#define SSL_CTX_use_certificate_chain_file chan_openssl.SSL_CTX_use_certificate_chain_file
#define SSL_connect chan_openssl.SSL_connect
#define SSL_ctrl chan_openssl.SSL_ctrl
#define SSL_free chan_openssl.SSL_free
#define SSL_get0_param chan_openssl.SSL_get0_param
#define SSL_get_current_cipher chan_openssl.SSL_get_current_cipher
#define SSL_get_error chan_openssl.SSL_get_error
#define SSL_get_rbio chan_openssl.SSL_get_rbio
#define SSL_get_shutdown chan_openssl.SSL_get_shutdown
#define SSL_get_verify_result chan_openssl.SSL_get_verify_result
#define SSL_get_version chan_openssl.SSL_get_version
#define SSL_new chan_openssl.SSL_new
#define SSL_peek_ex chan_openssl.SSL_peek_ex
#define SSL_pending chan_openssl.SSL_pending
#define SSL_read_ex chan_openssl.SSL_read_ex
#define SSL_set1_host chan_openssl.SSL_set1_host
#define SSL_set_bio chan_openssl.SSL_set_bio
#define SSL_set_hostflags chan_openssl.SSL_set_hostflags
#define SSL_set_shutdown chan_openssl.SSL_set_shutdown
#define SSL_shutdown chan_openssl.SSL_shutdown
#define SSL_write_ex chan_openssl.SSL_write_ex
#define TLS_client_method chan_openssl.TLS_client_method
#define X509_OBJECT_get_type chan_openssl.X509_OBJECT_get_type
#define X509_STORE_get0_objects chan_openssl.X509_STORE_get0_objects
#define X509_VERIFY_PARAM_set1_ip chan_openssl.X509_VERIFY_PARAM_set1_ip
#define X509_verify_cert_error_string chan_openssl.X509_verify_cert_error_string
#endif

#endif
