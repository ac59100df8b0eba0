# Naming, identity and uptime tests.
