# Every fixed identifier of the library, in one place. The IDL and the registry script are
# generated from these; changing one here changes it everywhere.
set(HYD_LIBID_HYD            1D031A31-07C5-4135-887E-0654346D51C1) # type library HYD
set(HYD_LIBID_HYD_DISP       0FF3D7BF-8025-4F28-BDCB-D2BBBB5A04FA) # automation library of IHyEnsembleDisp
set(HYD_CLSID_DIVORORAZIVO   04FAE772-7D9A-4DA3-8A01-155EFDB6535D)
set(HYD_IID_IHYDATASOURCE    6934D0E3-3F86-471C-8F39-320774547DAD)
set(HYD_IID_IHYPROPERTY      24DF9CC7-7897-4E41-B67A-27A79F6FAD5F)
set(HYD_IID_IENUMHYPROPERTY  741E855D-BCEE-4047-97A6-2979E0A0AE28)
set(HYD_IID_IHYDEVICECONTROL CE8FCEDE-8D8E-485E-BF0F-2D406CD179B1)
set(HYD_IID_IHYLOGWND        3C20D5DC-A92D-4113-ACEF-6FA5FF551D1A)
set(HYD_IID_IHYENSEMBLEDISP  04B3CF9F-AC17-4170-8BFA-961CE0DCBCE7)
set(HYD_IID_IHYCOMMSETUP     E0138ED5-5A6A-4330-A7E4-47FA267D03E6)
set(HYD_CLSID_ENSEMBLEFILE   A3EC58BC-42EF-4560-B5B4-B50B2C162ACF) # automation: ensembles of a file
set(HYD_IID_IHYENSEMBLEFILE  3ACC2EFC-D461-4927-B523-94E12FEFB5E2)
set(HYD_CATID_A              0C27897C-ABA3-4350-B066-CD8CFAA0D906) # implemented by DiVORorazivo
set(HYD_CATID_B              8F44F0BC-6750-4A02-831D-7289D3CF83A5) # only ever removed
set(HYD_CLSID_HYREFVEL       FA3CB99B-74F2-4E76-862F-314EC027C373) # classes this module does not serve
set(HYD_CLSID_HYBOTCUT       4AB630D3-67DA-4671-A4A1-99673B777C08)

# hyd_guid_initializer(VAR GUID): the DEFINE_GUID argument list of a GUID's text form.
function(hyd_guid_initializer var guid)
    string(SUBSTRING ${guid} 0 8 d1)
    string(SUBSTRING ${guid} 9 4 d2)
    string(SUBSTRING ${guid} 14 4 d3)
    set(bytes "")
    foreach(at 19 21 24 26 28 30 32 34)
        string(SUBSTRING ${guid} ${at} 2 b)
        list(APPEND bytes "0x${b}")
    endforeach()
    list(JOIN bytes ", " bytes)
    set(${var} "0x${d1}, 0x${d2}, 0x${d3}, ${bytes}" PARENT_SCOPE)
endfunction()
