# Sourced by the scripts that read the registry of their Wine prefix
# (WINEPREFIX, set by the caller) below HKEY_CLASSES_ROOT.

# The data of a value of key $1 ($2, else the default one without a name).
value() {
  local name=(/ve)
  [ -z "${2:-}" ] || name=(/v "$2")
  wine reg query "HKCR\\$1" "${name[@]}" 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ    //p'
}

# Whether key $1 exists.
key_exists() {
  wine reg query "HKCR\\$1" >/dev/null 2>&1
}
