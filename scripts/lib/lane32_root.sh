# shellcheck shell=bash
# Lane 32's root: a Debian system of its own in which the 32-bit Wine loader
# runs, made by scripts/bootstrap with mmdebstrap from Debian's main archive
# alone (amd64 and i386 from the same index, so their versions always
# match) and entered by scripts/lib/lane32. One per machine, shared by every
# clone. Sourced by both.

# Where it lies (FANSETUP_LANE32_ROOT moves it).
lane32_root=${FANSETUP_LANE32_ROOT:-/var/lib/fansetup/lane32}
# Its stamp, written last, when everything in it is made: a root without it,
# or with another recipe, is not used and is made again.
lane32_stamp=$lane32_root/etc/fansetup-lane32
# Raise when what goes into the root changes (packages, locales, hooks).
lane32_recipe=1

# lane32_root_current: 0 when the root is complete and of this recipe.
lane32_root_current() {
  grep -qx "recipe: $lane32_recipe" "$lane32_stamp" 2>/dev/null
}
