"""The Wine tests' helpers: the Wine session and its prefix (harness), the
emulated module on a pseudo-terminal (module), the fault matrix's rows and
its document (fault_matrix, fault_matrix_doc), the leftover-process check
(leftovers) and the PE resource reader (pe_resources).

The tests in tests/e2e import them as quillon_e2e.<name> (they run from that
folder); the tools import them as tests.e2e.quillon_e2e.<name>, from the
repository's root."""
