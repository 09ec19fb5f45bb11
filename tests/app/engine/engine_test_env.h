// The process of the engine tests: the browser runtime on the page engine, the program-wide
// handler and the application, made and ended by main in the program's order.
#pragma once

class Application;
class Window;

namespace engine_test {

Application* application();
// Registers the application as init does, for tests that start the window without init.
void registerApplication();
// From the window's destruction on, nobody may reach it through the application: main checks
// that appMainWindow() was already empty when the window's destruction began.
void watchWindowEnd(Window* window);

} // namespace engine_test
