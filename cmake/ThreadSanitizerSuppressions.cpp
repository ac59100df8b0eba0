// Compiled into every program built with ThreadSanitizer that links the endpoint (see the
// top-level CMakeLists.txt). The dependency's libraries are not instrumented, so ThreadSanitizer
// does not see their atomic reference counts, and reports as races two orderings those counts
// guarantee:
// - the request-head watch reads a socket's reference count, and another thread later frees the
//   socket once the count has dropped to zero;
// - a connection thread removes its stop delegate from the server's event while the stopping
//   thread, still notifying, holds the last reference to that delegate and then frees it.
extern "C" const char* __tsan_default_suppressions() {
    return "race:socketReferenceCount\n"
           "race:Poco::Delegate<Poco::Net::HTTPServerConnection\n";
}
