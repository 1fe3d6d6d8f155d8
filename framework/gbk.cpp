#include "framework/gbk.h"

#include <QStringDecoder>
#include <QStringEncoder>

QString FromGbk(std::string_view bytes) {
    QStringDecoder decoder("GBK", QStringDecoder::Flag::Stateless);
    return decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

std::string ToGbk(const QString& text) {
    QStringEncoder encoder("GBK", QStringEncoder::Flag::Stateless);
    QByteArray out = encoder.encode(text);
    return std::string(out.constData(), static_cast<size_t>(out.size()));
}
