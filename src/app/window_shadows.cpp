#include "app/window_shadows.h"

PsWindowShadows g_shadows;
bool g_shadowsDisabled = true;
QColor g_activeShadowColor(0, 0, 0, 255);
QColor g_inactiveShadowColor(0, 0, 0, 255);

// The shadow windows themselves are not built yet: init reports failure, and with it every other
// operation does nothing.
bool PsWindowShadows::init(QColor /*color*/)
{
    m_ready = false;
    return m_ready;
}

void PsWindowShadows::update(int /*changes*/, WINDOWPOS* /*pos*/) {}

void PsWindowShadows::setColor(QColor /*color*/) {}

void PsWindowShadows::destroy() { m_ready = false; }
