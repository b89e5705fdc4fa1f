#include "app/QTConfiguration.h"

#include "app/TruncateToInt.h"
#include "framework/kelvo/StudyManager.h"
#include "framework/marlo/TaskCommunicator.h"

#include <QFile>
#include <QXmlStreamReader>

#include <cmath>
#include <cstdio>
#include <string>

QTConfiguration::QTConfiguration(const QString& name) : fileName(name)
{
    // The framework learns the default kelvo aspect ratio before anything is
    // read: the analysis side first, then the study side.
    TaskCommunicator::Instance()->SetAspectRatio(kelvoAspect);
    StudyManager::Instance()->SetAspectRatio(kelvoAspect);
    parse();
}

void QTConfiguration::parse()
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly) || file.size() == 0) return;

    QXmlStreamReader xml(&file);
    bool sawElement = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            sawElement = true;
            line = xml.lineNumber();
            startElement(xml.namespaceUri().toString(), xml.name().toString(), xml.qualifiedName().toString(),
                         xml.attributes());
        }
    }
    if (!xml.hasError()) return;
    // A file of nothing but blanks holds no settings; that is not worth a word.
    if (!sawElement && xml.error() == QXmlStreamReader::PrematureEndOfDocumentError) return;
    clean = false;
    std::printf("%s:%lld:%lld: malformed XML (%s); the rest of the file is ignored\n",
                qPrintable(fileName), static_cast<long long>(xml.lineNumber()),
                static_cast<long long>(xml.columnNumber()), qPrintable(xml.errorString()));
    std::fflush(stdout);
}

void QTConfiguration::readInt(const QXmlStreamAttributes& attributes, const char* element, const char* name,
                              int& field)
{
    const QString text = attributes.value(QLatin1String(name)).toString();
    if (text.isEmpty()) return;
    bool ok = false;
    const unsigned value = text.toUInt(&ok, 10);
    field = ok ? static_cast<int>(value) : 0;
    if (!ok) {
        clean = false;
        std::printf("%s:%lld: %s %s=\"%s\" is not a whole number; 0 is used\n", qPrintable(fileName),
                    static_cast<long long>(line), element, name, qPrintable(text));
        std::fflush(stdout);
    }
}

void QTConfiguration::insane(const char* element, const char* name, const QString& text, const char* why)
{
    clean = false;
    std::printf("%s:%lld: %s %s=\"%s\" %s; the value is ignored\n", qPrintable(fileName),
                static_cast<long long>(line), element, name, qPrintable(text), why);
    std::fflush(stdout);
}

void QTConfiguration::readSize(const QXmlStreamAttributes& attributes, const char* element, const char* name,
                               int& field)
{
    const QString text = attributes.value(QLatin1String(name)).toString();
    if (text.isEmpty()) return;
    bool whole = false, number = false;
    const unsigned value = text.toUInt(&whole, 10);
    const double asNumber = text.toDouble(&number);
    if (whole ? value > static_cast<unsigned>(MaxDisplaySize)
              : number && (!std::isfinite(asNumber) || asNumber < 0.0 || asNumber > MaxDisplaySize)) {
        const std::string why = "is no display size (0 to " + std::to_string(MaxDisplaySize) + " pixels)";
        insane(element, name, text, why.c_str());
        return;
    }
    readInt(attributes, element, name, field);
}

bool QTConfiguration::readFloat(const QXmlStreamAttributes& attributes, const char* element, const char* name,
                                float& field, double low, double high)
{
    const QString text = attributes.value(QLatin1String(name)).toString();
    if (text.isEmpty()) return false;
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (ok && !(value >= low && value <= high)) {
        char why[80];
        std::snprintf(why, sizeof why, "is not a fraction of the display from %g to %g", low, high);
        insane(element, name, text, why);
        return false;
    }
    field = static_cast<float>(value);
    if (!ok) {
        field = 0.0f;
        clean = false;
        std::printf("%s:%lld: %s %s=\"%s\" is not a number; 0 is used\n", qPrintable(fileName),
                    static_cast<long long>(line), element, name, qPrintable(text));
        std::fflush(stdout);
    }
    return true;
}

namespace {
// Fractions of the display become pixels: truncated for integer fields, kept
// as single-precision values for float fields.
int scaledInt(float fraction, int extent) { return TruncateToInt(fraction * static_cast<double>(extent)); }
float scaledFloat(float fraction, int extent) { return static_cast<float>(fraction * static_cast<double>(extent)); }

}

bool QTConfiguration::startElement(const QString& /*namespaceURI*/, const QString& /*localName*/,
                                   const QString& qName, const QXmlStreamAttributes& attributes)
{
    // A placement attribute is read into a fraction first; only a non-empty
    // one touches its field.
    // A window may hang over the display's edge, but not lie a display away.
    auto fraction = [&](const char* element, const char* name, float& out) {
        const std::string n = name;
        if (n == "positionx" || n == "positiony") return readFloat(attributes, element, name, out, -1.0, 2.0);
        if (n == "framesize") return readFloat(attributes, element, name, out, 0.0, 1.0);
        return readFloat(attributes, element, name, out, 0.0, 2.0);
    };

    // The attribute mode naming one of two words (the first the default);
    // other text is named in one line and changes nothing.
    auto twoWordMode = [&](const char* element, const char* off, const char* on, bool& value) {
        const QString mode = attributes.value(QLatin1String("mode")).toString();
        if (mode == QLatin1String(on)) {
            value = true;
        } else if (mode == QLatin1String(off)) {
            value = false;
        } else if (!mode.isEmpty()) {
            clean = false;
            std::printf("%s:%lld: %s mode=\"%s\" is neither \"%s\" nor \"%s\"; %s is used\n", qPrintable(fileName),
                        static_cast<long long>(line), element, qPrintable(mode), off, on, off);
            std::fflush(stdout);
        }
    };

    if (qName == QLatin1String("startup")) {
        readInt(attributes, "startup", "condition", condition);
        readInt(attributes, "startup", "participantID", participantId);
    } else if (qName == QLatin1String("mainwindow")) {
        mainOrigin = Point3d(0, 0, 0);
        readSize(attributes, "mainwindow", "width", mainWidth);
        readSize(attributes, "mainwindow", "height", mainHeight);
        readInt(attributes, "mainwindow", "fullscreen", fullscreen);
        layoutMainWindow();
    } else if (qName == QLatin1String("kelvowindow")) {
        float f = 0;
        if (fraction("kelvowindow", "positionx", f)) kelvoX = scaledFloat(f, mainWidth);
        if (fraction("kelvowindow", "positiony", f)) kelvoY = scaledInt(f, mainHeight);
        if (fraction("kelvowindow", "width", f)) kelvoWidth = scaledInt(f, mainWidth);
        if (fraction("kelvowindow", "height", f)) kelvoHeight = scaledInt(f, mainHeight);
        if (fraction("kelvowindow", "framesize", f)) kelvoFrameSize = scaledFloat(f, mainWidth);
        layoutKelvoWindow();
        StudyManager::Instance()->SetView(mainWidth, mainHeight, TruncateToInt(mainWidth * 0.5),
                                          TruncateToInt(mainHeight * 0.5), mainWidth, mainHeight);
        TaskCommunicator::Instance()->SetAspectRatio(kelvoAspect);
        StudyManager::Instance()->SetAspectRatio(kelvoAspect);
    } else if (qName == QLatin1String("operatewindow")) {
        float f = 0;
        if (fraction("operatewindow", "positionx", f)) operateX = scaledFloat(f, mainWidth);
        if (fraction("operatewindow", "positiony", f)) operateY = scaledFloat(f, mainHeight);
        if (fraction("operatewindow", "width", f)) operateWidth = scaledInt(f, mainWidth);
        if (fraction("operatewindow", "height", f)) operateHeight = scaledInt(f, mainHeight);
        if (fraction("operatewindow", "framesize", f)) operateFrameSize = scaledFloat(f, mainWidth);
        layoutOperateWindow();
    } else if (qName == QLatin1String("subspace2dwindow")) {
        float f = 0;
        if (fraction("subspace2dwindow", "positionx", f)) subspace2dX = scaledFloat(f, mainWidth);
        if (fraction("subspace2dwindow", "positiony", f)) subspace2dY = scaledInt(f, mainHeight);
        if (fraction("subspace2dwindow", "width", f)) subspace2dWidth = scaledInt(f, mainWidth);
        if (fraction("subspace2dwindow", "height", f)) subspace2dHeight = scaledInt(f, mainHeight);
        if (fraction("subspace2dwindow", "framesize", f)) subspace2dFrameSize = scaledFloat(f, mainWidth);
        layoutSubspace2dWindow();
        StudyManager::Instance()->Set2DwindowAspectRatio(subspace2dAspect);
    } else if (qName == QLatin1String("subspace3dwindow")) {
        float f = 0;
        if (fraction("subspace3dwindow", "positionx", f)) subspace3dX = scaledFloat(f, mainWidth);
        if (fraction("subspace3dwindow", "positiony", f)) subspace3dY = scaledInt(f, mainHeight);
        if (fraction("subspace3dwindow", "width", f)) subspace3dWidth = scaledInt(f, mainWidth);
        if (fraction("subspace3dwindow", "height", f)) subspace3dHeight = scaledInt(f, mainHeight);
        if (fraction("subspace3dwindow", "framesize", f)) subspace3dFrameSize = scaledFloat(f, mainWidth);
        layoutSubspace3dWindow();
        StudyManager::Instance()->Set3DwindowAspectRatio(subspace3dAspect);
    } else if (qName == QLatin1String("render")) {
        twoWordMode("render", "continuous", "on-demand", renderOnDemand);
    } else if (qName == QLatin1String("raster")) {
        twoWordMode("raster", "gl", "cpu", computedLassoImage);
    } else if (qName == QLatin1String("cloud")) {
        // Out of range or not a number: named in one line, the default kept.
        auto value = [&](const char* name, float low, float high, float& target) {
            const QString text = attributes.value(QLatin1String(name)).toString();
            if (text.isEmpty()) return;
            bool ok = false;
            const float v = text.toFloat(&ok);
            if (ok && std::isfinite(v) && v >= low && v <= high) {
                target = v;
                return;
            }
            clean = false;
            std::printf("%s:%lld: cloud %s=\"%s\" is not between %g and %g; %g is used\n", qPrintable(fileName),
                        static_cast<long long>(line), name, qPrintable(text), low, high, target);
            std::fflush(stdout);
        };
        value("pointSize", 1.0f, 16.0f, cloudPointSize);
        value("opacity", 0.02f, 1.0f, cloudOpacity);
    } else if (qName == QLatin1String("pcpwindow")) {
        float f = 0;
        if (fraction("pcpwindow", "positionx", f)) pcpX = scaledFloat(f, mainWidth);
        if (fraction("pcpwindow", "positiony", f)) pcpY = scaledInt(f, mainHeight);
        if (fraction("pcpwindow", "width", f)) pcpWidth = scaledInt(f, mainWidth);
        if (fraction("pcpwindow", "height", f)) pcpHeight = scaledInt(f, mainHeight);
        layoutPcpWindow();
    }
    return true;
}
