// Compiled into every program built with ThreadSanitizer that links the endpoint (see the
// top-level CMakeLists.txt). POCO's libraries are not instrumented, so ThreadSanitizer
// does not see their atomic reference counts, and reports as races two orderings those counts
// guarantee:
// - a connection thread removes its stop delegate from the server's event while the stopping
//   thread, still notifying, holds the last reference to that delegate and then frees it;
// - a connection's socket, whose head the front door read, is freed by whichever thread lets go
//   of it last, after the other thread's last use of it.
extern "C" const char* __tsan_default_suppressions() {
    return "race:Poco::Delegate<Poco::Net::HTTPServerConnection\n"
           "race:FrontDoor::Handlers::abortConnections\n"
           "race:~HeadFirstSocketImpl\n";
}
