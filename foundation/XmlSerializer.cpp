#include "foundation/XmlSerializer.h"

#include "foundation/Base64.h"

#include <pugixml.hpp>

#include <algorithm>
#include <climits>
#include <string>
#include <string_view>
#include <vector>

namespace {
// The reader's stack is bounded like the original's growth limit.
constexpr std::size_t kMaxStackEntries = 0x7FFFFFF;

std::string utf8(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

bool isNameStart(char16_t c)
{
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_' || c == u':' ||
           c >= 0xC0;
}

bool isNameChar(char16_t c)
{
    return isNameStart(c) || (c >= u'0' && c <= u'9') || c == u'-' || c == u'.' || c == 0xB7;
}

// An element or attribute the DOM would refuse to create; pugixml would
// write it anyway and make a document nobody can read back.
bool isXmlName(const QString& name)
{
    if (name.isEmpty() || !isNameStart(name.at(0).unicode()))
        return false;
    for (QChar c : name) {
        if (!isNameChar(c.unicode()))
            return false;
    }
    return true;
}

// pugixml accepts an element that repeats an attribute; XML does not.
bool hasRepeatedAttribute(pugi::xml_document& doc)
{
    struct Walker : pugi::xml_tree_walker
    {
        bool repeated = false;
        std::vector<std::string_view> names;
        bool for_each(pugi::xml_node& node) override
        {
            names.clear();
            for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute())
                names.emplace_back(a.name());
            if (names.size() < 2)
                return true;
            std::sort(names.begin(), names.end());
            repeated = std::adjacent_find(names.begin(), names.end()) != names.end();
            return !repeated;
        }
    } walker;
    doc.traverse(walker);
    return walker.repeated;
}

struct StringWriter : pugi::xml_writer
{
    std::string out;
    void write(const void* data, std::size_t size) override
    {
        out.append(static_cast<const char*>(data), size);
    }
};
} // namespace

struct CXmlSerializer::Impl
{
    struct Walk
    {
        std::string name;
        pugi::xml_node item; // the child the walk stands on; null once used up
        int depth = 0;
    };

    pugi::xml_document doc;
    bool hasDocument = false;
    pugi::xml_node current;
    bool hasAttributes = false; // the current node's attribute map is held
    int depth = 0;
    std::vector<Walk> walks;

    void release()
    {
        doc.reset();
        hasDocument = false;
        current = pugi::xml_node();
        hasAttributes = false;
        depth = 0;
        walks.clear();
    }
};

CXmlSerializer::CXmlSerializer() : d(std::make_unique<Impl>()) {}

CXmlSerializer::~CXmlSerializer() = default;

bool CXmlSerializer::CreateDocument(const QString& rootName)
{
    d->release();
    pugi::xml_node decl = d->doc.append_child(pugi::node_declaration);
    if (!decl)
        return false;
    decl.append_attribute("version").set_value("1.0");
    decl.append_attribute("encoding").set_value("UTF-8");
    d->hasDocument = true;
    d->current = d->doc;
    return AddChild(rootName);
}

bool CXmlSerializer::AddChild(const QString& name)
{
    if (!d->current || !isXmlName(name))
        return false;
    pugi::xml_node child = d->current.append_child(utf8(name).c_str());
    if (!child)
        return false;
    d->current = child;
    d->hasAttributes = true;
    return true;
}

bool CXmlSerializer::SetAttribute(const QString& name, const QString& value)
{
    if (!d->current || !d->hasAttributes || !isXmlName(name))
        return false;
    const std::string key = utf8(name);
    const std::string text = utf8(value);
    pugi::xml_attribute attr = d->current.attribute(key.c_str());
    if (!attr)
        attr = d->current.append_attribute(key.c_str());
    return attr && attr.set_value(text.c_str(), text.size());
}

bool CXmlSerializer::SetAttributeLong(const QString& name, long value)
{
    return SetAttribute(name, QString::number(value));
}

bool CXmlSerializer::SetAttributeBool(const QString& name, bool value)
{
    return SetAttribute(name, value ? QStringLiteral("true") : QStringLiteral("false"));
}

bool CXmlSerializer::SetAttributeBinary(const QString& name, const void* data, quint32 length)
{
    CBase64 codec;
    codec.Encode(data, length);
    return SetAttribute(name, codec.GetText());
}

bool CXmlSerializer::EndChild()
{
    if (d->current)
        d->current = d->current.parent();
    d->hasAttributes = false;
    return true;
}

QString CXmlSerializer::GetXml() const
{
    if (!d->hasDocument)
        return QString();
    StringWriter writer;
    d->doc.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    return QString::fromUtf8(writer.out.data(), static_cast<qsizetype>(writer.out.size()));
}

bool CXmlSerializer::LoadXml(const QString& text, const QString& rootName)
{
    d->release();
    // The text is read as a zero-terminated string, as it travels.
    const qsizetype zero = text.indexOf(QChar(0));
    const QByteArray bytes = (zero < 0 ? text : text.left(zero)).toUtf8();
    // The text is already decoded: whatever encoding its declaration names
    // does not apply any more.
    const pugi::xml_parse_result result =
        d->doc.load_buffer(bytes.constData(), static_cast<std::size_t>(bytes.size()),
                           pugi::parse_default | pugi::parse_declaration, pugi::encoding_utf8);
    if (!result || hasRepeatedAttribute(d->doc)) {
        d->release();
        return false;
    }
    // pugixml accepts several top-level elements; an XML document has one.
    int elements = 0;
    for (pugi::xml_node n = d->doc.first_child(); n; n = n.next_sibling()) {
        if (n.type() == pugi::node_element)
            ++elements;
    }
    pugi::xml_node root = d->doc.document_element();
    if (elements != 1 || !root || utf8(rootName) != root.name() || rootName.isEmpty()) {
        d->release();
        return false;
    }
    d->hasDocument = true;
    d->current = root;
    d->hasAttributes = true;
    d->depth = 0;
    return true;
}

bool CXmlSerializer::NextChild(const QString& name)
{
    if (!d->current)
        return false;
    const std::string key = utf8(name);
    pugi::xml_node item;
    bool found = false;
    // Walks are pushed at the depth of the moment and removed when the reader
    // leaves that depth, so the stack is ordered by depth and none lies
    // deeper than the reader: only the top entries can match.
    for (auto it = d->walks.rbegin(); it != d->walks.rend() && it->depth == d->depth; ++it) {
        if (it->name == key) {
            // A used-up walk stays so that later calls keep failing.
            if (it->item)
                it->item = it->item.next_sibling(key.c_str());
            item = it->item;
            found = true;
            break;
        }
    }
    if (!found) {
        item = d->current.child(key.c_str());
        if (!item || key.empty() || d->walks.size() >= kMaxStackEntries)
            return false;
        d->walks.push_back({key, item, d->depth});
    }
    if (!item)
        return false;
    d->current = item;
    d->hasAttributes = true;
    ++d->depth;
    return true;
}

bool CXmlSerializer::LeaveChild()
{
    d->hasAttributes = false;
    if (!d->current)
        return false;
    if (d->depth == 0) {
        d->walks.clear();
        return true;
    }
    pugi::xml_node parent = d->current.parent();
    if (!parent)
        return false;
    d->current = parent;
    const int leaving = d->depth;
    std::erase_if(d->walks, [leaving](const Impl::Walk& w) { return w.depth == leaving; });
    --d->depth;
    return true;
}

bool CXmlSerializer::GetAttribute(const QString& name, QString& value) const
{
    if (!d->current || !d->hasAttributes)
        return false;
    const pugi::xml_attribute attr = d->current.attribute(utf8(name).c_str());
    if (!attr)
        return false;
    value = QString::fromUtf8(attr.value());
    return true;
}

bool CXmlSerializer::GetAttributeLong(const QString& name, long& value) const
{
    QString text;
    if (!GetAttribute(name, text)) {
        value = 0;
        return false;
    }
    value = WtoL(text);
    return true;
}

bool CXmlSerializer::GetAttributeBinary(const QString& name, QByteArray& data) const
{
    QString text;
    if (!GetAttribute(name, text))
        return false;
    CBase64 codec;
    std::uint32_t length = 0;
    codec.Decode(text, length);
    if (length == 0)
        return false;
    data = QByteArray(reinterpret_cast<const char*>(codec.GetBytes()), length);
    return true;
}

int CXmlSerializer::Depth() const
{
    return d->depth;
}

long WtoL(const QString& text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text.at(i) == QLatin1Char(' ') ||
                     (text.at(i).unicode() >= 9 && text.at(i).unicode() <= 13)))
        ++i;
    bool negative = false;
    if (i < n && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    // Accumulate in 64 bits and saturate at the 32-bit limits of the
    // platform the values were first written on.
    long long value = 0;
    for (; i < n && text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9'); ++i) {
        value = value * 10 + (text.at(i).unicode() - u'0');
        if (value > static_cast<long long>(INT32_MAX) + 1)
            value = static_cast<long long>(INT32_MAX) + 1;
    }
    if (negative)
        return static_cast<long>(-value);
    return static_cast<long>(value > INT32_MAX ? INT32_MAX : value);
}
