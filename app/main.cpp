#include "QuorvaneAgent.h"

#if defined(_WIN32)
int wmain(int argc, wchar_t** argv) {
    quorvane::QuorvaneAgent agent;
    return agent.run(argc, argv);
}
#else
int main(int argc, char** argv) {
    quorvane::QuorvaneAgent agent;
    return agent.run(argc, argv);
}
#endif
