#include <pellib/pelbool.h>

// The one object whose address stands for "true".
class PelBoolLiteral_ {};

namespace {
const PelBoolLiteral_ theTrueLiteral{};
}

PelBool::PelBool() : m_Value(false) {}

PelBool::PelBool(const void* value) : m_Value(value != nullptr) {}

PelBool::PelBool(int value) : m_Value(value != 0) {}

PelBool::PelBool(const PelBool& other) = default;

PelBool& PelBool::operator=(const PelBool& other) = default;

PelBool::~PelBool() = default;

PelBool::operator const PelBoolLiteral_*() const {
    return m_Value ? &theTrueLiteral : nullptr;
}
