// tr_stream_c: the growable NUL-terminated narrow text builder used for every
// text katrace assembles (trace lines, reports, replies, error texts, paths).
#ifndef KATRACE_TR_STREAM_H
#define KATRACE_TR_STREAM_H

class tr_stream_c {
public:
    char* buffer;                 // the text; never null after construction
    unsigned long long length;    // characters before the NUL
    unsigned long long capacity;  // room for text and NUL; allocation is capacity + 1

    tr_stream_c();
    tr_stream_c(const tr_stream_c& other);
    tr_stream_c& operator=(const tr_stream_c& other);
    ~tr_stream_c();

    // Makes room for n more characters (growth by request, at least doubling a
    // long text; see the .cpp).
    void reserve(unsigned long long n);

    tr_stream_c& append(const char* text);
    tr_stream_c& append(const tr_stream_c& other);
    // Appends exactly n bytes of text (no NUL inside expected).
    tr_stream_c& append_n(const char* text, unsigned long long n);
    // Character 0 appends nothing; character 1 clears the stream.
    tr_stream_c& append(char c);
    tr_stream_c& append(short v);
    tr_stream_c& append(int v);
    tr_stream_c& append(long v);
    tr_stream_c& append(unsigned short v);
    tr_stream_c& append(unsigned int v);
    tr_stream_c& append(unsigned long v);
    tr_stream_c& append(long long v);
    tr_stream_c& append(unsigned long long v);
    tr_stream_c& append(double v);
    tr_stream_c& append(bool v);

    void truncate(unsigned long long new_length);
    void set_char(unsigned long long pos, char c);
    void insert_cr(unsigned long long pos);
    void to_crlf();
    int compare(const char* text, bool case_sensitive) const;

    // The text, "" when the buffer is null.
    const char* c_str() const { return buffer ? buffer : ""; }
};

#endif
