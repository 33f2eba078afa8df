// Password scrambling over the fixed substitution table.
//
// scramble: the i-th character c becomes row i at the position of c in row 0
// (first pass), then the i-th character of that becomes row 30 - i at its
// position in row 0 (second pass). unscramble runs both passes backwards.
// Rows 30 - i do not exist from position 30 on; those positions use row 0,
// i.e. their characters pass unchanged.
#include "app/config/scramble.h"
#include <array>

namespace app {
namespace {

// Row 0 is the character set; rows 1 to 35 are fixed arrangements of it.
// Stored passwords depend on them: never change a row.
constexpr std::array<std::string_view, kScrambleRows> kTable = {
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz1234567890-_ÄäÖöÜüß~ !?=@#+*§%&/{}()[]<>|éèêáàâóòôúùûÁÀÂÈÉÊÓÒÔÙÚÛ.,;:^°",  // 0
    "Y3LE{ae#wWysZQèKàé|rbfòSozÊCX;imOö6üä2âh7Ú.ÔßÀN§Á+JêÒ^_5vn>g@ôjÙ~:-kpA?cÓ!Bù9xD%P*4ÛT<°/1RutMÂdÈ&ÄVÜ]áÉ)ûóÖ}8HIúql =U,F0(G[",  // 1
    "Xs§KI7<._R-ä#|DVèmr&ex;FZÓÙüÄav!=cLgóê5Túq+ß*nJÚ9POÉ]BÈGU(ôQ[éz}SÜ8/@NM~òWYÀà1C4ÔÒA6áijÁÖ^l>u0 E°p),ùû{%otwhyb2Ûö:?kfâdHÂ3Ê",  // 2
    " ÙÜ&9ó0uqh#Ä<SVPz_UJjÁÀ|EckÛQT-ÈÖCàWnw,Yfy~.Ê8ßéGodK[g>H3+Òr=6tev°:^êsFûúb;}pDXâZRü§öè{@ô*(ùBò5xM!Ó?m4I1iOA7%N]/ÉL)ÚäalÂ2Ôá",  // 3
    "5qVÖixPcáGFBALôDêò§pzÁäÂhKÒeÚ0N-|.#_Q*tl93!UÔèI%Ùâ};ÜàÓ+&éüu2vyJEnÈ@ö{,)?ÉaÊóXs] S6/=>Û48ùr7<(:o^g1ûÀ°HYú~mjÄdTwkfßZOC[WMRb",  // 4
    "WÓV/f+n,:[1.ü5iFÂBßHlÚSy4TóÔYNLÜ*èòKÈÛp3OwZ-9A)ct;=Ö}Ò~_k&ÊCÀh2éö06>< RsxMÁ(Xá{o@^ô#ÙJ8PùÉujêzGIb|rÄú]D°aEgeqQU?äd!v§%âmûà7",  // 5
    "póBD^0A>_ZôuÙEm|~FlyßcÖ?orÉÈ#=ètü*6kâ%á1-J5)ú[êÁeà(]iä&H°d;8Ò93ù§Úb@.f/SÀChU+RÓÂX2GPVÔ4{òûsnTN:Ä,7Q Ûöx}vwjLOéY<ÊzMqWKaIÜg!",  // 6
    "ÖÈÒzP§Óú,OcV°q36<bèe{s_mv.4W}ZRQ=nEw&uûH ÁÔ@F#ÂJ~0lCNG)oA9(afd?éâÚSüU5]1XÀ|-Äiä[/pyòYöt!2ójôàÊ:áÙ8%+>L;gßI^DxÛ*BMTùê7KkhÜÉr",  // 7
    "óÈmAfnFUEoÚ2é+.BL]aÂPú?ÒÛO}@X1lyM tÜYßJ:{/>b4Ù(ö°Ä9;Nsä*[x7Qcá&i<è§Z6uD~dW!ÊÁ8|à^ÖÔKüVÀ-vT3%HSG_òCgêÓ=qrûô5âpù)0#Iw,RzÉekhj",  // 8
    "9X1äC>§eàx{+aüBÊm(AO[@S}Èöu2zIl&8P 4ÂÛ#-ÀÚrÜùÉècLK~°])UTQMjdnú:ébWofk,;NÖHghR/wò=ß*ûy!ÁtiÙÓ_?E^ÄpóÒ|êâ<0GsD%7ÔFJ.Y56VZvqá3ô",  // 9
    "~A!7oÔöHG,5d{°lúK2pÈ1büô0|[(/ÖÉqIäw§À*R:-N8zvT)ÚBÜM<Ê QXguÂYFWßy>òfÛUx]}mP^=óC_S?jÒr@Óián+L.èû%à&6sVeZétOê9Á#EâD;ÄckaÙh34ùJ",  // 10
    "ÄQrúêYÚcP<U~EzGs[éoapKÜA+äà§jC>Â(@á7l|Ón.e?8ôû}0X4-ÔSRBt#NÛL6!]qÊÈdwó/*FiIk9Ù:âÀèv^{ZVDMuW_fß)1òHöb ,yxÖüÒJÁ;mù%5=OÉg3&hT°2",  // 11
    "u1Sxmj/aßhéöÉ%lOk4Cd:Ä&We@ünÀTy!|-är]5X°t*2Ò§MIUpqÖ> 9?[{0LÓ)òÔúÛZfùQ+Ú(ácVÁ7Eè#ó=GÈovi<DF6w;K,A3ÜYBszRô~âHJÙ}ÊPûêà_g.NÂb8^",  // 12
    "ÚxVÖ>&FlûcQr^[Nbj_Od;KJ)hBàngyZÄü#eT?+uè]s4i*ÒÓ7@o§9YG/Ló -HÁÙékp<ßázf2%°=D6ÈÀIÔ(1ö,MÊXòPôÉÜ~.ùWaq}3:SAE!RäÂ5â|êvUtCwÛú0{m8",  // 13
    "pòdN~tM(TÛ^qe0wO?Sßú-J@l#óa6G RKXéùÀÒzàÉÜmPxr[ä_ÁsÈI!ûu:/5]VÔ.3H|&F;Y<èôCoL28kâ,W%f>=)biÊö}ÄUÚQ79gEÓAny1ÂüávZ+êj{°cDh*BÖ§4Ù",  // 14
    "h]nxfpzN*9i<3ó!t§ûêôgWo}%Èjböüw+Ó=5ÀYÉc-FCèH>80Ê.BòÚläTeâ[kUr^;Là?6°4m&vA~@XùJsu_adRÜSß,I7ú/V1y2|áÔÂÛ(ÙÒqE:KÄéÁ#)MZQ Ö{PODG",  // 15
    "Â9@{u&*R;Ù=°ß64WÀé#pZ(7iXH5}U1NgFbs,rPàüÈmAèV/öCkÄ^ÔMYJÓáóÁz~oÖjvêS|ÛÒat+Ü:DúOIB![]ôc?l<-)8>fäq% Eù.Ênâ02xGÉKòeTydûL3Qh§w_Ú",  // 16
    "ua;Ò2ú3P|MnÜpÊÉ%^i~A é/ôÀÄQ°oüÈ9ókO-ùDF[bsläCÔòW0LBû7öÓr]â?_G5,x{w#ágvZ!:UêEI6ÙVR(&Áß8fKJ=+YÖtmXNcÂq.>yh1)èj@Û§He}<d4ÚzTàS*",  // 17
    "~J3D7È#G!<áûnk-Âm)VWL81êdéClSÖÚrAP+ ,=.yÊFö{äßY}üÉjúH5Áiò@ÓU^epèt0Òù°_IuOàÔÄcR?Àowh|/aôKÜXxZ;T29â§:óÛq&(4zvgfs%ÙQ*b>NEBM6[]",  // 18
    "T)iÉ!%&GunûÁÙcEejÈA[IÖM§7Ä4F 6=DwÜq{B-é>s/ÒdÂx(XÓ@]À}9o:ä~Jtü3#Rbpm_;HzêgavóálöY^àÔhúß1y<r°ôC|ÊZQkWùf5KÚ+U*VSòPè8ÛO.,L0?âN2",  // 19
    "RJOl[üóYÛW7(1b4ÄHp:PsS~Ng;frÓ58ÉÈß°BZdkvU2Ê=aeÁmÔ}jQä+-ycxuMKq]IV @TFú9ûGÒÂ_#toL^áwôÜÀù>Ci3é.è!<|ÚöÙXnh){Ö/6?êò&0âàDE*,Az§%",  // 20
    "p1:J[L)(.]>ö/{Ûld#ÈB;êÓàr-?Oôèqz2ò0U4jogfÙ tóÁÀÒ<a7Réc5SZxs!3k*wb_%ú^ÜE°A~üFÊ§ÂÚ}9ÉM,ùhuYDQei|P6nK=X+áßâÔÖmÄH8WyNI@ä&GvûCTV",  // 21
    "4IXzüváéÄÀund°]lúj#HPÔF1,g+cMG_NÒä9Éqó[Úps@We|.Q^ÖÈV(r3% mLbOR-ÓfZÙèwi/h;YyßK§{&5aò7Âû?k)J2Dx*=0êU:tÛâ6Ê!ù<~EBÜ8ô>ASoCTÁ}àö",  // 22
    "%gMùöò/r6?ß}(C)féZF1Éú=Ûä,SÙèh9È#ÚpUü:EbLtldzKyH+vV< Öà|5D8iÁNXAûOÒe4I{ôJGB^Ê-YóÜj7°x.m!§0Ô&Ä[>ÓaWc~áqên@;]TPw2oQ*uâk3sÂRÀ_",  // 23
    "ßmòq§ÔN/>TvÚw}ücÛOfV7M,à8D59Â+b&ù0FWsûRÄ[^o<SXp(á@nâa#öÈ) zE=1ZèläÜi4_IeÒÓ?Ày~ôÊkQ;.gjru|h%dÖPJ2ÙALx°ÁH*3êéÉ:CtóY-B]!Gú6KU{",  // 24
    "@Àá9,|NGFwPôk>J3j2ée§XoZLOM!tlnÔÉ_ vÄßSfWÛ:I#â&KQdV-B]%*?0.a/ä(Ór5üú}YÊÙ6g~CÂTU7èÜ8{pExùqÒû^È4;smA=[óhàiÁÖ)zöcuê1HbRDòy+Ú°<",  // 25
    "u°eQ)l8y7c(HgÁ.*CÜàkû:UN_R^ÖjqúIfGéáEÛât!9LP4Wzoô=d;F/@J}|ùöÓ&ÄÈbÔó§rX2ÒnÚ]ÂÊOZT,3A1wxÙi aYüSêmÀD%p{#6ä?VvM~Éè5+h<0Bß>òsK-[",  // 26
    "+ÁnV-óx:yÖDerÛÓ*O7êù!â9g{|Â,üXFÒèw[~§_û&ÈT)jcMS;6ôAé<ÜòN°2LulIRoaúbCd1]?U=KBH ÙZ0(q3pzYEhßÊsmPQ4i5Ô/ÉJ.ÄfWö}@àÀ%^áGä8tvk>Ú#",  // 27
    "§XÒ=ÙxcÉióK>t/[Â}UÜ2sÈ{oÄH~èegOàyYTfB<!ÔDPâQ0uÚ73êVÛCÀôù:û]Ánéäap(9.jÖR#M)I%_Jß84vdò,m1wL^k5°ÊbüS&qlN+Zá|;*F@GErhW öÓz-ú6?A",  // 28
    "âR(:ä>ÀeÖS~ô{pPH=bLÜóX@Én§&;3éC1)-Td#ò8D [tUjrÊM5ac7gK0OZEF}%kNö<êá4ÓJÔúqßIûW*92xiè?ÒÛs.]Ay_+ÄBhÚ^ü!YVÂà6u|/Gzw°ofvmlÁùÈ,QÙ",  // 29
    "QxÔÁwBN5v>Êp§;ÀbòFm@IÖ ÂcHôÈ!f(EW.T&Úê1Ù-ÛÄ?~läd3{V_<9,X0JjL#aKe|Ò+7R*á%hüsÜâoèötASM°2OzZéC)ànrD/yk}[:Y6GuùÓg=qßúû8^ÉUP]4ió",  // 30
    "<Eö_6hv):ÚÀÜ1Zzfb3%p4{Hy*éU-@/e,òBâÖÔmgÁ2PjQ.o+IlórWúûÊRè&Ò]iÂa5TÛOL0;áVxGà[DqMä^wkß7cd°Én?|8K9êY!Ct§FüA>XuÙÄJ}ô= ÓùÈNsS#~(",  // 31
    "z]@CÄsÖcJòtÙK_%àp-m7éw2(vqyXiTU3uèWÔ05)+A?SüI;Â~jäÚâ9o§aÉÜ[órVFÈ,6á1ÒQDnh!P*8{bôH.kEMN°ÛB<g|YöZû#GOÊ>eÁdf=À: L/lxR}&ßêÓù4^ú",  // 32
    "êu°6üaPÙR<KhóÔHÛ^n@ù4ÜÈ§ÖûbY:dJyg0fS*Ä[_Â~cXe#8.&T?WoqI2wxß%,âÒ35 LtGNmUäà]ÚA|/ô9CEsÁ7j+vp=ÉÓ)öDéOBúi1>Fzòá;rVÀ}lkZMèQ{!(Ê-",  // 33
    "ÓÉDunùò=GhÙ )?ÜO}!3Äê[ßúä:cArÊ%§5UX^&ÀÔ<_].pàq8°>m6Pf4SÛûÚidE0tgB/N1ÈY|MwaöèâkôjÖbo~Â{ó@á9QKlü-vyWLÒ(;RéxV+,zZÁ2I*JsH#TFe7C",  // 34
    "6ûTÂ8SfI/cÖ]lÔ&iêF)àG-2UÈ:09rz5ÁBLâJÀú=%Pk[mhxôE@Dw§4;oK|s+nÉb{v^AC7tHö#Ägéej!<a(ßuáóÊ~ÓQOÚ*ZX>3ùRÙN}Vè?ÜäWyò1°YÒÛ qM_,püd.",  // 35
};

constexpr bool rowsHaveFullLength()
{
    for (std::string_view row : kTable)
        if (row.size() != static_cast<std::size_t>(kScrambleRowLength)) return false;
    return true;
}
static_assert(rowsHaveFullLength(), "every scramble row holds 123 characters");

// 0-based index of c in the row, or npos.
std::size_t indexIn(int row, char c) { return kTable[row].find(c); }

// Row of the second pass for 1-based position i.
int secondPassRow(int i) { return i < 30 ? 30 - i : 0; }

// The text limited to 35 characters, without characters outside the set.
// Dropping them first keeps every later position aligned, so the stored
// text of a password with, say, a tab unscrambles to the password without it.
std::string prepare(const std::string& text)
{
    const std::string limited = text.size() > static_cast<std::size_t>(kMaxPasswordLength) ? "toolong" : text;
    std::string kept;
    for (char c : limited)
        if (indexIn(0, c) != std::string_view::npos) kept += c;
    return kept;
}

} // namespace

std::string_view scrambleRow(int r) { return kTable.at(r); }

std::string scramble(const std::string& password)
{
    std::string t = prepare(password);
    for (std::size_t i = 1; i <= t.size(); ++i)
        t[i - 1] = kTable[i][indexIn(0, t[i - 1])];
    for (std::size_t i = 1; i <= t.size(); ++i)
        t[i - 1] = kTable[secondPassRow(static_cast<int>(i))][indexIn(0, t[i - 1])];
    return t;
}

std::string unscramble(const std::string& stored)
{
    std::string t = prepare(stored);
    for (std::size_t i = 1; i <= t.size(); ++i)
        t[i - 1] = kTable[0][indexIn(secondPassRow(static_cast<int>(i)), t[i - 1])];
    for (std::size_t i = 1; i <= t.size(); ++i)
        t[i - 1] = kTable[0][indexIn(static_cast<int>(i), t[i - 1])];
    return t;
}

} // namespace app
