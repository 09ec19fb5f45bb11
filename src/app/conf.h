// The configuration files conf.xml and define.xml, and the page roots derived from them.
#pragma once

#include <QMap>
#include <QSize>
#include <QString>

// Attributes of root/client in conf.xml, plus the computed "MacAddress" and "IpAddress".
typedef QMap<QString, QString> ConfMap;
// Upper-case key name -> HID usage code text (hexadecimal), from define.xml.
typedef QMap<QString, QString> KeyCodeMap;

// Parses conf.xml: false when the file is missing, cannot be read or is not well-formed XML (out
// untouched; error, when given, says why). Otherwise out holds every attribute of the first client
// element of the first root element (a later duplicate wins); error says when there is no such
// element.
bool parseConfFile(const QString& path, ConfMap* out, QString* error = nullptr);

// Every child element of keyboard: upper-cased attribute value -> attribute hidCode (a later entry wins).
// Text that is not well-formed XML gives no entries.
void parseDefineText(const QString& text, KeyCodeMap* table);

// Hardware address of the first network interface that is not a loopback interface, or "".
QString firstMacAddress();
// The first IPv4 address other than 127.0.0.1, or "".
QString firstIpv4Address();

// "/template" below appDir when Debug is exactly "true", else below tempDir (native separators).
QString pageRootFor(const ConfMap& conf, const QString& appDir, const QString& tempDir);
// LoadPath from its 33rd character on, without its "<page>.html" parts (the first one included).
QString imageSubPathFor(const QString& loadPath);

// Window size from ClientSize ("width,height"). A part that is missing or not a positive integer takes
// the default of 1000 by 700.
QSize clientSizeFor(const ConfMap& conf);
