# Sourced by the offline scripts: an XP volume with SYSTEM, SOFTWARE (whose
# ProfileList names Owner), SAM and Owner's NTUSER.DAT, from the fixtures.
#
#   make_xp_volume VOL WORK      needs $empty_hive and $fixtures; sets
#                                $config and $profile; exits 1 on failure

make_xp_volume() {
    local vol=$1 work=$2
    rm -rf "$vol"
    config=$vol/WINDOWS/system32/config
    profile="$vol/Documents and Settings/Owner"
    mkdir -p "$config" "$profile"
    "$empty_hive" "$config/system" "$config/software" "$config/SAM" "$profile/NTUSER.DAT" || {
        echo "FAIL: kestro_empty_hive"
        exit 1
    }
    local key='\Microsoft\Windows NT\CurrentVersion\ProfileList'
    cat >"$work/profiles.reg" <<REG
Windows Registry Editor Version 5.00

[$key]

[$key\\S-1-5-21-5-6-7-1004]
"ProfileImagePath"="C:\\\\Documents and Settings\\\\Owner"

REG
    hivexregedit --merge "$config/system" "$fixtures/system.reg" &&
        hivexregedit --merge "$config/software" "$fixtures/software.reg" &&
        hivexregedit --merge "$config/software" "$work/profiles.reg" &&
        hivexregedit --merge "$profile/NTUSER.DAT" "$fixtures/ntuser.reg" || {
        echo "FAIL: hivexregedit --merge"
        exit 1
    }
}
