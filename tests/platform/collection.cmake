# Data collection tests (probes, session readers, Linux back end).
