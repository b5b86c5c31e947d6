/* The floor of one forced update cycle: the same two HTTPS GETs as `korvane-client once --force`
 * (the address echo, then the update request with the same headers) over one libcurl easy handle and
 * nothing else, each on a connection of its own as the client sends them. Whatever this costs is the
 * price of libcurl and OpenSSL alone; once-bench compares the client against it.
 *
 *   floor BASE_URL HOSTNAME API_KEY [CA_FILE]
 *
 * Trust: CA_FILE when given, else SSL_CERT_FILE, else SSL_CERT_DIR as a hashed directory, so the same
 * trust-store variants can be measured as for the client. Exit 0 when the update answer came back with
 * HTTP 200. */
#include <curl/curl.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct buffer {
    char data[65536];
    size_t size;
};

static size_t collect(char* chunk, size_t size, size_t count, void* userdata) {
    struct buffer* buffer = userdata;
    size_t bytes = size * count;
    if (bytes > sizeof buffer->data - 1 - buffer->size)
        return 0; /* an oversized body ends the transfer, as in the client */
    memcpy(buffer->data + buffer->size, chunk, bytes);
    buffer->size += bytes;
    buffer->data[buffer->size] = '\0';
    return bytes;
}

static void base64(const unsigned char* in, size_t length, char* out) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    size_t i = 0;
    for (; i + 2 < length; i += 3) {
        *out++ = alphabet[in[i] >> 2];
        *out++ = alphabet[((in[i] & 3) << 4) | (in[i + 1] >> 4)];
        *out++ = alphabet[((in[i + 1] & 15) << 2) | (in[i + 2] >> 6)];
        *out++ = alphabet[in[i + 2] & 63];
    }
    if (i + 1 == length) {
        *out++ = alphabet[in[i] >> 2];
        *out++ = alphabet[(in[i] & 3) << 4];
        *out++ = '=';
        *out++ = '=';
    } else if (i + 2 == length) {
        *out++ = alphabet[in[i] >> 2];
        *out++ = alphabet[((in[i] & 3) << 4) | (in[i + 1] >> 4)];
        *out++ = alphabet[(in[i + 1] & 15) << 2];
        *out++ = '=';
    }
    *out = '\0';
}

static const char* nonEmptyEnv(const char* name) {
    const char* value = getenv(name);
    return value != NULL && value[0] != '\0' ? value : NULL;
}

static long get(CURL* curl, const char* url, struct curl_slist* headers, struct buffer* body) {
    body->size = 0;
    body->data[0] = '\0';
    curl_easy_setopt(curl, CURLOPT_URL, url);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    CURLcode result = curl_easy_perform(curl);
    if (result != CURLE_OK) {
        fprintf(stderr, "floor: %s: %s\n", url, curl_easy_strerror(result));
        return -1;
    }
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    return status;
}

int main(int argc, char** argv) {
    if (argc < 4 || argc > 5) {
        fprintf(stderr, "usage: floor BASE_URL HOSTNAME API_KEY [CA_FILE]\n");
        return 64;
    }
    const char* base = argv[1];
    const char* hostname = argv[2];
    const char* apiKey = argv[3];
    const char* caFile = argc == 5 ? argv[4] : nonEmptyEnv("SSL_CERT_FILE");
    const char* caDir = caFile == NULL ? nonEmptyEnv("SSL_CERT_DIR") : NULL;

    curl_global_init(CURL_GLOBAL_DEFAULT);
    CURL* curl = curl_easy_init();
    if (curl == NULL)
        return 1;
    struct buffer* body = calloc(1, sizeof *body);
    if (body == NULL)
        return 1;

    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(curl, CURLOPT_TCP_NODELAY, 1L);
    /* Each request on a connection of its own, as the client must: the second handshake resumes the
       first one's TLS session from the handle's own cache. */
    curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, body);
    if (caFile != NULL) {
        curl_easy_setopt(curl, CURLOPT_CAINFO, caFile);
        curl_easy_setopt(curl, CURLOPT_CAPATH, NULL);
    } else if (caDir != NULL) {
        /* Without clearing the built-in bundle OpenSSL would still parse it whole. */
        curl_easy_setopt(curl, CURLOPT_CAINFO, NULL);
        curl_easy_setopt(curl, CURLOPT_CAPATH, caDir);
    }

    char url[4096];
    snprintf(url, sizeof url, "%s/ip4", base);
    if (get(curl, url, NULL, body) < 0)
        return 1;
    /* The echo's body, trimmed, is the address to push. */
    char* address = body->data;
    while (*address == ' ' || *address == '\t' || *address == '\r' || *address == '\n')
        ++address;
    size_t length = strcspn(address, " \t\r\n");
    char myip[64];
    if (length == 0 || length >= sizeof myip) {
        fprintf(stderr, "floor: no address in the echo's answer\n");
        return 1;
    }
    memcpy(myip, address, length);
    myip[length] = '\0';

    char credentials[1024];
    snprintf(credentials, sizeof credentials, "%s:%s", hostname, apiKey);
    char encoded[1400];
    base64((const unsigned char*)credentials, strlen(credentials), encoded);
    char authorization[1500];
    snprintf(authorization, sizeof authorization, "Authorization: Basic %s", encoded);
    struct curl_slist* headers = curl_slist_append(NULL, authorization);
    headers = curl_slist_append(headers, "User-Agent: RuzEdaRoredo-macOS/0.24.0");

    snprintf(url, sizeof url, "%s/nic/update?hostname=%s&myip=%s", base, hostname, myip);
    long status = get(curl, url, headers, body);
    if (status < 0)
        return 1;
    printf("%ld %s\n", status, body->data);

    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    free(body);
    curl_global_cleanup();
    return status == 200 ? 0 : 1;
}
