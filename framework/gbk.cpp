#include "framework/gbk.h"

#include <QStringDecoder>
#include <QStringEncoder>

QString FromGbk(std::string_view bytes) {
    // Opening a converter by name is costly and this runs for every cell shown;
    // a stateless decoder can be reused freely within its thread.
    thread_local QStringDecoder decoder("GBK", QStringDecoder::Flag::Stateless);
    if (bytes.empty() || static_cast<unsigned char>(bytes.back()) < 0x81) {
        return decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    }
    // A lead byte at the very end would be dropped silently as an incomplete
    // sequence; a control-byte sentinel turns it into U+FFFD, then goes again.
    std::string terminated(bytes);
    terminated.push_back('\x01');
    QString text = decoder.decode(
        QByteArrayView(terminated.data(), static_cast<qsizetype>(terminated.size())));
    text.chop(1);
    return text;
}

std::string ToGbk(const QString& text) {
    QStringEncoder encoder("GBK", QStringEncoder::Flag::Stateless);
    QByteArray out = encoder.encode(text);
    return std::string(out.constData(), static_cast<size_t>(out.size()));
}
