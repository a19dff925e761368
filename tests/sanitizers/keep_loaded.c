/* Preloaded into the AddressSanitizer test runs (scripts/sanitize.sh): makes
 * dlclose a no-op, so the ODBC driver manager and drivers stay mapped until
 * the leak check at process exit. Unloaded libraries leave the leak reports
 * without module names, and then no suppression can name the driver. */
int dlclose(void* handle) {
  (void)handle;
  return 0;
}
