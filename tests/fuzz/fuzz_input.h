// Reads a fuzz input as a sequence of choices: bytes, small numbers and texts. An exhausted
// input reads as zeros and empty texts.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    bool atEnd() const { return m_pos >= m_size; }
    uint8_t byte() { return atEnd() ? 0 : m_data[m_pos++]; }
    // A number from 0 to n - 1 (n from 1 to 256).
    int pick(int n) { return byte() % n; }
    uint32_t u32()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v = (v << 8) | byte();
        return v;
    }
    // A text of up to 255 bytes: its length byte, then its bytes.
    std::string text()
    {
        const size_t length = byte();
        const size_t take = std::min(length, m_size - m_pos);
        std::string s(reinterpret_cast<const char*>(m_data + m_pos), take);
        m_pos += take;
        return s;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};
