#include "region.h"

#include <QDebug>
#include <QJsonValue>
#include <QVarLengthArray>

#include <algorithm>

namespace Vorlane::Core {

namespace {

// The chain from the top-level region down to (and including) the given one. Walking it
// iteratively keeps deep trees off the call stack.
QVarLengthArray<const Region *, 16> chainFromTop(const Region *region)
{
    QVarLengthArray<const Region *, 16> chain;
    for (const QObject *object = region; object; object = object->parent()) {
        const Region *current = qobject_cast<const Region *>(object);
        if (!current)
            break;
        chain.append(current);
    }
    std::reverse(chain.begin(), chain.end());
    return chain;
}

} // namespace

Region::Region(QObject *parent)
    : QObject(parent)
{ }

QString Region::id() const
{
    return m_id;
}

void Region::setId(const QString &id)
{
    m_id = id;
}

QString Region::name() const
{
    return m_name;
}

void Region::setName(const QString &name)
{
    m_name = name;
}

// The composition runs from the top-level region downwards so that the arithmetic is the same
// as parent.x() + parent.width() * x evaluated level by level.
double Region::x() const
{
    const auto chain = chainFromTop(this);
    double x = chain.first()->m_x;
    double width = chain.first()->m_width;
    for (qsizetype i = 1; i < chain.size(); ++i) {
        x = x + width * chain.at(i)->m_x;
        width = width * chain.at(i)->m_width;
    }
    return x;
}

double Region::y() const
{
    const auto chain = chainFromTop(this);
    double y = chain.first()->m_y;
    double height = chain.first()->m_height;
    for (qsizetype i = 1; i < chain.size(); ++i) {
        y = y + height * chain.at(i)->m_y;
        height = height * chain.at(i)->m_height;
    }
    return y;
}

double Region::width() const
{
    const auto chain = chainFromTop(this);
    double width = chain.first()->m_width;
    for (qsizetype i = 1; i < chain.size(); ++i)
        width = width * chain.at(i)->m_width;
    return width;
}

double Region::height() const
{
    const auto chain = chainFromTop(this);
    double height = chain.first()->m_height;
    for (qsizetype i = 1; i < chain.size(); ++i)
        height = height * chain.at(i)->m_height;
    return height;
}

void Region::setX(double x)
{
    m_x = x;
}

void Region::setY(double y)
{
    m_y = y;
}

void Region::setWidth(double width)
{
    m_width = width;
}

void Region::setHeight(double height)
{
    m_height = height;
}

int Region::z() const
{
    return m_z;
}

QList<Region *> &Region::regions()
{
    return m_regions;
}

QStringList &Region::conflictsWith()
{
    return m_conflictsWith;
}

bool Region::containsRegion(const QString &regionId) const
{
    // Pre-order walk with an explicit stack; children are pushed in reverse to keep file order.
    QList<const Region *> pending { this };
    while (!pending.isEmpty()) {
        const Region *region = pending.takeLast();
        if (region->m_id == regionId)
            return true;
        for (auto it = region->m_regions.crbegin(); it != region->m_regions.crend(); ++it) {
            if (*it)
                pending.append(*it);
        }
    }
    return false;
}

int Region::readJson(QJsonObject json, int z)
{
    m_id = getJsonString(json, QStringLiteral("id"));
    m_name = getJsonString(json, QStringLiteral("name"));
    m_x = getJsonDouble(json, QStringLiteral("x"));
    m_y = getJsonDouble(json, QStringLiteral("y"));
    m_z = z;
    m_width = getJsonDouble(json, QStringLiteral("width"));
    m_height = getJsonDouble(json, QStringLiteral("height"));
    const QJsonArray children = getJsonArray(json, QStringLiteral("regions"));

    m_regions.clear();
    // The recursion depth is bounded by the JSON parser's nesting limit for anything read from
    // a file; every level of regions costs two levels of JSON nesting.
    int counter = z;
    for (const QJsonValue &value : children) {
        auto *child = new Region(this);
        ++counter;
        counter = child->readJson(value.toObject(), counter);
        m_regions.append(child);
    }

    initConflictingRegions();
    return counter;
}

void Region::writeJson(QJsonObject &json) const
{
    json[QStringLiteral("id")] = m_id;
    json[QStringLiteral("name")] = m_name;
    json[QStringLiteral("x")] = m_x;
    json[QStringLiteral("y")] = m_y;
    json[QStringLiteral("width")] = m_width;
    json[QStringLiteral("height")] = m_height;
    QJsonArray children;
    for (const Region *child : m_regions) {
        if (!child)
            continue;
        QJsonObject childJson;
        child->writeJson(childJson);
        children.append(childJson);
    }
    json[QStringLiteral("regions")] = children;
}

void Region::initConflictingRegions()
{
    m_conflictsWith.append(m_id);
    addConflictingAncestor(enclosingRegion());
    addConflictingSuccessor(m_regions);
}

void Region::addConflictingAncestor(Region *region)
{
    for (; region; region = region->enclosingRegion())
        m_conflictsWith.append(region->m_id);
}

void Region::addConflictingSuccessor(QList<Region *> &regions)
{
    QList<const Region *> pending;
    for (auto it = regions.crbegin(); it != regions.crend(); ++it) {
        if (*it)
            pending.append(*it);
    }
    while (!pending.isEmpty()) {
        const Region *region = pending.takeLast();
        m_conflictsWith.append(region->m_id);
        for (auto it = region->m_regions.crbegin(); it != region->m_regions.crend(); ++it) {
            if (*it)
                pending.append(*it);
        }
    }
}

Region *Region::enclosingRegion() const
{
    return qobject_cast<Region *>(parent());
}

QString getJsonString(const QJsonObject &json, const QString &key)
{
    const auto it = json.constFind(key);
    if (it == json.constEnd() || !it->isString()) {
        qWarning() << "JSON string value not found: " << key;
        return {};
    }
    return it->toString();
}

double getJsonDouble(const QJsonObject &json, const QString &key)
{
    const auto it = json.constFind(key);
    if (it == json.constEnd() || !it->isDouble()) {
        qWarning() << "JSON double value not found: " << key;
        return 0;
    }
    return it->toDouble();
}

QJsonArray getJsonArray(const QJsonObject &json, const QString &key)
{
    const auto it = json.constFind(key);
    if (it == json.constEnd() || !it->isArray()) {
        qWarning() << "JSON array value not found: " << key;
        return {};
    }
    return it->toArray();
}

} // namespace Vorlane::Core
